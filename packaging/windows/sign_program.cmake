# Run by cpack in each package's staging tree, after the strip: signs velmor.exe there when
# a certificate is given (tools/windows/sign.sh does nothing without one).
execute_process(COMMAND "${CPACK_VELMOR_SIGN}" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/velmor.exe"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot sign ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/velmor.exe")
endif()
