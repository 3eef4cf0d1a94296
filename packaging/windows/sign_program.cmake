# Run by cpack in each package's staging tree, after the strip: signs every .exe and .dll
# there when a certificate is given (tools/windows/sign.sh does nothing without one).
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe"
    "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.dll")
if(NOT files)
    message(FATAL_ERROR "nothing to sign in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
execute_process(COMMAND "${CPACK_VELMOR_SIGN}" ${files} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot sign the files in ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
