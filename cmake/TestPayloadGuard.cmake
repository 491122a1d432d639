# The repository's payload carries a self-signed test certificate and stand-in
# modules. An exe built from it would make customers trust that certificate, so
# a Windows build takes it only when TDE_TEST_BUILD says this is a test build
# (the windows preset does; the release preset does not). A test build's exe
# says so in its version resource.
include_guard(GLOBAL)

option(TDE_TEST_BUILD
       "Test build: may pack the repository's test payload (test certificate, stand-in modules); the exe is marked as a test build"
       OFF)

if(WIN32 AND NOT TDE_TEST_BUILD)
  set(repo_payload ${PROJECT_SOURCE_DIR}/resources/payload)
  file(REAL_PATH ${DRIVER_PAYLOAD_DIR} payload_real)
  file(REAL_PATH ${repo_payload} repo_payload_real)
  set(reason "")
  if(payload_real STREQUAL repo_payload_real)
    set(reason "DRIVER_PAYLOAD_DIR is not set to the vendor's payload (it is the repository's own, ${repo_payload})")
  else()
    # A copy of the repository's payload elsewhere is still the test certificate.
    file(SHA256 ${repo_payload}/driver/pos/znw.cer test_cert_hash)
    # The installer finds items ignoring letter case: ZNW.CER is znw.cer to it.
    file(GLOB_RECURSE payload_files ${DRIVER_PAYLOAD_DIR}/*)
    set(certificates "")
    foreach(candidate IN LISTS payload_files)
      string(TOLOWER "${candidate}" lower)
      if(lower MATCHES "\\.cer$")
        list(APPEND certificates ${candidate})
      endif()
    endforeach()
    foreach(cert IN LISTS certificates)
      file(SHA256 ${cert} hash)
      if(hash STREQUAL test_cert_hash)
        set(reason "${cert} is the repository's test certificate")
      endif()
    endforeach()
  endif()
  if(reason)
    message(FATAL_ERROR
      "Refusing to build the installer: ${reason}.\n"
      "A release needs the vendor's driver files: -DDRIVER_PAYLOAD_DIR=/path/to/payload.\n"
      "For a test build with the repository's payload, use the windows preset or -DTDE_TEST_BUILD=ON.")
  endif()
endif()
