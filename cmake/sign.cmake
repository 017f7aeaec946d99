# cmake -DFILE= -DCERT= -DKEY= [-DTIMESTAMP=] -DOSSLSIGNCODE= -P sign.cmake
# Signs FILE in place (Authenticode, SHA-256). On failure FILE is deleted, so
# the next build links it again instead of taking the unsigned one as built.
set(signed "${FILE}.signing")
file(REMOVE "${signed}")
set(stamp)
if(TIMESTAMP)
  set(stamp -ts "${TIMESTAMP}")
endif()
# osslsigncode would ask for the passphrase on the terminal, out of sight
# behind the build's output: a build that seems to hang.
file(STRINGS "${KEY}" encrypted LIMIT_COUNT 1 REGEX "ENCRYPTED")
if(encrypted)
  file(REMOVE "${FILE}")
  message(FATAL_ERROR "Could not sign ${FILE}: the key ${KEY} is encrypted; give it unencrypted")
endif()
execute_process(
  COMMAND "${OSSLSIGNCODE}" sign -certs "${CERT}" -key "${KEY}" -h sha256
          -n Orvane -i https://orvane.app ${stamp} -in "${FILE}" -out "${signed}"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT EXISTS "${signed}")
  file(REMOVE "${FILE}" "${signed}")
  message(FATAL_ERROR "Could not sign ${FILE} with certificate ${CERT} and key ${KEY}"
          " (osslsigncode: ${result}):\n${output}")
endif()
file(RENAME "${signed}" "${FILE}")
