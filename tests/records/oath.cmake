# The pam_oath users file checked against the programs that read it: a
# FreeRADIUS server asking pam_oath (and liboath beneath it) through rlm_pam.
# Registered only where pam_oath and oathtool are found.
# Include it from tests/CMakeLists.txt:
#   include(${CMAKE_CURRENT_SOURCE_DIR}/records/oath.cmake)
find_file(PAM_OATH_MODULE pam_oath.so
          PATHS /lib/${CMAKE_LIBRARY_ARCHITECTURE}/security /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/security
                /lib/security /usr/lib/security
          NO_DEFAULT_PATH)
find_program(OATHTOOL oathtool)

if(NOT (PAM_OATH_MODULE AND OATHTOOL))
    message(STATUS "pam_oath reference tests left out: libpam-oath or oathtool missing")
    return()
endif()
# The users file is written by vnotp-cli programming a virtual key. The test
# writes its PAM service file to /etc/pam.d and is skipped (77) without root.
add_test(NAME oath_reference
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/oath_reference_test.sh ${PAM_OATH_MODULE}
                 $<TARGET_FILE_DIR:vnotp-cli>)
set_tests_properties(oath_reference PROPERTIES
    TIMEOUT 120 SKIP_RETURN_CODE 77
    REQUIRED_FILES "$<TARGET_FILE:vnotp-cli>;$<TARGET_FILE:vnkey>"
    ENVIRONMENT "LC_ALL=C.UTF-8")
