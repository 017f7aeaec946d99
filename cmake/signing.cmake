# Authenticode signing of the deliverables. scripts/build fills these from the
# environment; left empty, the build is unsigned.
set(ORVANE_SIGN_CERT "" CACHE FILEPATH
    "Code-signing certificate, PEM or DER (PEM may carry the chain after it); empty: unsigned build")
set(ORVANE_SIGN_KEY "" CACHE FILEPATH "The certificate's RSA private key, PEM or DER, unencrypted")
set(ORVANE_SIGN_TIMESTAMP "" CACHE STRING "RFC 3161 time stamp server URL (optional)")

set(ORVANE_SIGNING OFF)
if(ORVANE_SIGN_CERT OR ORVANE_SIGN_KEY OR ORVANE_SIGN_TIMESTAMP)
  foreach(var ORVANE_SIGN_CERT ORVANE_SIGN_KEY)
    if(NOT ${var})
      message(FATAL_ERROR "${var} is empty: signing needs ORVANE_SIGN_CERT and ORVANE_SIGN_KEY"
              " (ORVANE_SIGN_TIMESTAMP alone signs nothing)")
    endif()
    if(NOT EXISTS "${${var}}" OR IS_DIRECTORY "${${var}}")
      message(FATAL_ERROR "${var}: no such file: ${${var}}")
    endif()
  endforeach()
  find_program(ORVANE_OSSLSIGNCODE osslsigncode)
  if(NOT ORVANE_OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode (scripts/setup installs it)")
  endif()
  set(ORVANE_SIGNING ON)
  message(STATUS "Signing with ${ORVANE_SIGN_CERT}")
else()
  message(STATUS "No ORVANE_SIGN_CERT: the release is unsigned")
endif()

# Signs the target's file in place, in the same build step as its link: no
# other step can see it built but unsigned, and whatever embeds it (the
# installer's resources) is rebuilt after it. A new certificate or key (same
# path, new contents) relinks and signs again.
function(orvane_sign target)
  if(NOT ORVANE_SIGNING)
    return()
  endif()
  set(script ${PROJECT_SOURCE_DIR}/cmake/sign.cmake)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:${target}> -DCERT=${ORVANE_SIGN_CERT} -DKEY=${ORVANE_SIGN_KEY}
            -DTIMESTAMP=${ORVANE_SIGN_TIMESTAMP} -DOSSLSIGNCODE=${ORVANE_OSSLSIGNCODE} -P ${script}
    VERBATIM)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ORVANE_SIGN_CERT} ${ORVANE_SIGN_KEY} ${script})
endfunction()
