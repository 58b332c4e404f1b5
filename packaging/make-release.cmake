# Gathers FILES into RELEASE_DIR, writes SHA256SUMS (sha256sum's format, so
# `sha256sum -c SHA256SUMS` checks them) and packs the folder into
# RELEASE_ZIP; the zip's own sum goes beside it in RELEASE_ZIP.sha256.
file(REMOVE_RECURSE ${RELEASE_DIR})
file(MAKE_DIRECTORY ${RELEASE_DIR})
set(sums "")
foreach(source IN LISTS FILES)
  get_filename_component(name ${source} NAME)
  file(COPY ${source} DESTINATION ${RELEASE_DIR})
  file(SHA256 ${RELEASE_DIR}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${RELEASE_DIR}/SHA256SUMS "${sums}")
get_filename_component(release_parent ${RELEASE_DIR} DIRECTORY)
get_filename_component(release_name ${RELEASE_DIR} NAME)
file(REMOVE ${RELEASE_ZIP})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${RELEASE_ZIP} --format=zip ${release_name}
  WORKING_DIRECTORY ${release_parent}
  RESULT_VARIABLE packed)
if(NOT packed EQUAL 0)
  message(FATAL_ERROR "could not write ${RELEASE_ZIP}")
endif()
get_filename_component(zip_name ${RELEASE_ZIP} NAME)
file(SHA256 ${RELEASE_ZIP} zip_hash)
file(WRITE ${RELEASE_ZIP}.sha256 "${zip_hash}  ${zip_name}\n")
