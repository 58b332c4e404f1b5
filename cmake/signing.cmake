# Authenticode signatures for the Windows build.
#
# 64-bit Windows loads a kernel driver only when its image carries a
# signature, so both driver images are always signed. Without a certificate
# of our own the build signs them with a test certificate it makes here with
# OpenSSL: self-signed, for code signing only, kept in
# LIRRIN_TEST_SIGNING_DIR (in the build directory unless set) and never in
# the sources. Windows accepts it only in test-signing mode. Two builds that
# go into one release share the directory (scripts/make-release), so that
# one certificate covers every image in the package.
#
# LIRRIN_SIGN_PFX (a PKCS#12 file with the certificate and its key) and
# LIRRIN_SIGN_PASSWORD (its password) in the environment name a real
# certificate instead. The file is taken when the build is configured, the
# password only when a file is signed, so it never reaches the cache. The
# programs that are shipped (lirrin_sign_program) and the installers are
# signed with the same certificate as the driver images: with the test one
# a tester who trusts the release's certificate sees one signer throughout
# (it earns nothing with SmartScreen); with a real one they are signed for
# good.
#
# Provides:
#   LIRRIN_SIGN_PE           cmake/sign-pe, which signs one file
#   LIRRIN_SIGNING_KEY       its key arguments (certificate and key, or --pkcs12 FILE)
#   LIRRIN_SIGNING_FILES     the files those name, for DEPENDS
#   LIRRIN_SIGN_PFX          the real certificate, or empty
#   LIRRIN_TEST_CERTIFICATE  the test certificate (PEM)
#   LIRRIN_TEST_CERTIFICATE_DER  the same in DER (.cer)
#   LIRRIN_TEST_KEY          its private key
#   lirrin_sign_program(TARGET)  signs TARGET's file after linking

function(lirrin_sign_program target)
  if(WIN32)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${LIRRIN_SIGN_PE} $<TARGET_FILE:${target}> $<TARGET_FILE:${target}> ${LIRRIN_SIGNING_KEY}
      COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
      VERBATIM)
  endif()
endfunction()

if(NOT WIN32)
  return()
endif()

find_program(LIRRIN_OPENSSL openssl REQUIRED)
find_program(LIRRIN_OSSLSIGNCODE osslsigncode REQUIRED)
set(LIRRIN_SIGN_PE ${CMAKE_CURRENT_LIST_DIR}/sign-pe)

set(LIRRIN_TEST_SIGNING_DIR ${CMAKE_BINARY_DIR}/test-signing CACHE PATH
    "Where the build keeps its test certificate and key (made when missing)")
set(LIRRIN_TEST_CERTIFICATE ${LIRRIN_TEST_SIGNING_DIR}/Lirrin-test-signing.pem)
set(LIRRIN_TEST_CERTIFICATE_DER ${LIRRIN_TEST_SIGNING_DIR}/Lirrin-test-signing.cer)
set(LIRRIN_TEST_KEY ${LIRRIN_TEST_SIGNING_DIR}/Lirrin-test-signing.key)
if(NOT EXISTS ${LIRRIN_TEST_CERTIFICATE} OR NOT EXISTS ${LIRRIN_TEST_KEY})
  file(MAKE_DIRECTORY ${LIRRIN_TEST_SIGNING_DIR})
  # Self-signed, as Microsoft's own test certificates are (MakeCert -r), and
  # good for nothing but signing code.
  execute_process(
    COMMAND ${LIRRIN_OPENSSL} req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650
            -subj "/CN=Lirrin Test Driver Signing/O=Norvik Lirrin (test only)"
            -addext "basicConstraints=critical,CA:FALSE"
            -addext "keyUsage=critical,digitalSignature"
            -addext "extendedKeyUsage=codeSigning"
            -keyout ${LIRRIN_TEST_KEY} -out ${LIRRIN_TEST_CERTIFICATE}
    RESULT_VARIABLE made
    OUTPUT_QUIET ERROR_VARIABLE openssl_log)
  if(NOT made EQUAL 0)
    file(REMOVE ${LIRRIN_TEST_KEY} ${LIRRIN_TEST_CERTIFICATE})
    message(FATAL_ERROR "could not make the test certificate:\n${openssl_log}")
  endif()
  file(REMOVE ${LIRRIN_TEST_CERTIFICATE_DER})
  message(STATUS "Made the test signing certificate ${LIRRIN_TEST_CERTIFICATE}")
endif()
# The same in DER, the form Windows' certificate import opens with a double
# click; the release carries this one.
if(NOT EXISTS ${LIRRIN_TEST_CERTIFICATE_DER})
  execute_process(
    COMMAND ${LIRRIN_OPENSSL} x509 -in ${LIRRIN_TEST_CERTIFICATE} -outform DER
            -out ${LIRRIN_TEST_CERTIFICATE_DER}
    COMMAND_ERROR_IS_FATAL ANY)
endif()

set(LIRRIN_SIGN_PFX "$ENV{LIRRIN_SIGN_PFX}")
if(LIRRIN_SIGN_PFX)
  if(NOT EXISTS ${LIRRIN_SIGN_PFX})
    message(FATAL_ERROR "LIRRIN_SIGN_PFX names ${LIRRIN_SIGN_PFX}, which does not exist")
  endif()
  if(NOT DEFINED ENV{LIRRIN_SIGN_PASSWORD})
    message(FATAL_ERROR "LIRRIN_SIGN_PFX is set but LIRRIN_SIGN_PASSWORD is not")
  endif()
  set(LIRRIN_SIGNING_KEY --pkcs12 ${LIRRIN_SIGN_PFX})
  set(LIRRIN_SIGNING_FILES ${LIRRIN_SIGN_PFX})
  set(LIRRIN_SIGNED_WITH pfx CACHE INTERNAL "What signed the driver images: test or pfx")
  message(STATUS "Signing with ${LIRRIN_SIGN_PFX}")
else()
  set(LIRRIN_SIGNING_KEY ${LIRRIN_TEST_CERTIFICATE} ${LIRRIN_TEST_KEY})
  set(LIRRIN_SIGNING_FILES ${LIRRIN_TEST_CERTIFICATE} ${LIRRIN_TEST_KEY})
  set(LIRRIN_SIGNED_WITH test CACHE INTERNAL "What signed the driver images: test or pfx")
endif()
