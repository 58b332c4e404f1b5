# cmake -DSOURCE_DIR=... -DX86_BUILD=... -DX64_BUILD=... -DRELEASE_ROOT=... -P make-release.cmake
#
# The release package from the two Windows builds: both installers at the
# top (Lirrin-setup.exe, 32-bit, for XP SP3 and later; Lirrin-x64-setup.exe
# for 64-bit Windows 7 and later), each build's plain programs in x86/ and
# x64/, the user documents, and SHA256SUMS (sha256sum's format, so
# `sha256sum -c SHA256SUMS` checks them), packed into
# RELEASE_ROOT/Lirrin-VERSION.zip with the zip's own sum beside it. When the
# builds signed their driver images with the test certificate
# (cmake/signing.cmake), the package carries it, Lirrin-test-signing.cer,
# for testers to trust; both builds must then have used the same one.
cmake_minimum_required(VERSION 3.25)

foreach(variable SOURCE_DIR X86_BUILD X64_BUILD RELEASE_ROOT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

# cached(BUILD NAME VARIABLE): a value from a build's cache.
function(cached build name variable)
  file(STRINGS ${build}/CMakeCache.txt line REGEX "^${name}:")
  string(REGEX REPLACE "^[^=]*=" "" value "${line}")
  set(${variable} "${value}" PARENT_SCOPE)
endfunction()

cached(${X86_BUILD} CMAKE_PROJECT_VERSION version)
set(name Lirrin-${version})
set(release_dir ${RELEASE_ROOT}/${name})
set(release_zip ${RELEASE_ROOT}/${name}.zip)

# "source|folder in the package" pairs.
set(files
  ${X86_BUILD}/Lirrin-setup.exe|.
  ${X64_BUILD}/Lirrin-x64-setup.exe|.
  ${X86_BUILD}/src/app/Lirrin.exe|x86
  ${X86_BUILD}/src/lirrin-cli.exe|x86
  ${X64_BUILD}/src/app/Lirrin.exe|x64
  ${X64_BUILD}/src/lirrin-cli.exe|x64
  ${SOURCE_DIR}/README.md|.
  ${SOURCE_DIR}/docs/script-language.md|.
  ${SOURCE_DIR}/packaging/License.txt|.)

cached(${X86_BUILD} LIRRIN_SIGNED_WITH x86_signer)
cached(${X64_BUILD} LIRRIN_SIGNED_WITH x64_signer)
if(NOT x86_signer STREQUAL x64_signer)
  message(FATAL_ERROR "the 32-bit build's driver images are signed with '${x86_signer}', the 64-bit "
                      "build's with '${x64_signer}': configure both with the same LIRRIN_SIGN_PFX")
endif()
if(x86_signer STREQUAL "test")
  cached(${X86_BUILD} LIRRIN_TEST_SIGNING_DIR x86_signing_dir)
  cached(${X64_BUILD} LIRRIN_TEST_SIGNING_DIR x64_signing_dir)
  if(NOT x86_signing_dir STREQUAL x64_signing_dir)
    message(FATAL_ERROR "the two builds signed their driver images with different test certificates "
                        "(${x86_signing_dir}, ${x64_signing_dir}): configure both with one "
                        "LIRRIN_TEST_SIGNING_DIR, as scripts/make-release does")
  endif()
  list(APPEND files ${x86_signing_dir}/Lirrin-test-signing.cer|.)
endif()

file(REMOVE_RECURSE ${release_dir})
set(sums "")
foreach(entry IN LISTS files)
  string(REPLACE "|" ";" pair "${entry}")
  list(GET pair 0 source)
  list(GET pair 1 folder)
  if(NOT EXISTS ${source})
    message(FATAL_ERROR "missing from the builds: ${source}")
  endif()
  get_filename_component(file_name ${source} NAME)
  file(MAKE_DIRECTORY ${release_dir}/${folder})
  file(COPY ${source} DESTINATION ${release_dir}/${folder})
  if(folder STREQUAL ".")
    set(path ${file_name})
  else()
    set(path ${folder}/${file_name})
  endif()
  file(SHA256 ${release_dir}/${path} hash)
  string(APPEND sums "${hash}  ${path}\n")
endforeach()
file(WRITE ${release_dir}/SHA256SUMS "${sums}")

file(REMOVE ${release_zip})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar cf ${release_zip} --format=zip ${name}
  WORKING_DIRECTORY ${RELEASE_ROOT}
  RESULT_VARIABLE packed)
if(NOT packed EQUAL 0)
  message(FATAL_ERROR "could not write ${release_zip}")
endif()
file(SHA256 ${release_zip} zip_hash)
file(WRITE ${release_zip}.sha256 "${zip_hash}  ${name}.zip\n")
message(STATUS "${release_zip}")
