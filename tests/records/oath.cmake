# The pam_oath users file checked against the programs that read it: liboath,
# pam_oath loaded by libpam, and FreeRADIUS through rlm_pam. Built and
# registered only where liboath, libpam, pam_oath and oathtool are found.
# Include it from tests/CMakeLists.txt:
#   include(${CMAKE_CURRENT_SOURCE_DIR}/records/oath.cmake)
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(LIBOATH QUIET IMPORTED_TARGET liboath)
endif()
find_library(PAM_LIBRARY pam)
find_path(PAM_INCLUDE_DIR security/pam_appl.h)
find_file(PAM_OATH_MODULE pam_oath.so
          PATHS /lib/${CMAKE_LIBRARY_ARCHITECTURE}/security /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/security
                /lib/security /usr/lib/security
          NO_DEFAULT_PATH)
find_program(OATHTOOL oathtool)

if(NOT (LIBOATH_FOUND AND PAM_LIBRARY AND PAM_INCLUDE_DIR))
    message(STATUS "pam_oath reference tests left out: liboath-dev or libpam0g-dev missing")
    return()
endif()
add_executable(oath_check ${CMAKE_CURRENT_LIST_DIR}/oath_check.c)
target_link_libraries(oath_check PRIVATE PkgConfig::LIBOATH ${PAM_LIBRARY})
target_include_directories(oath_check PRIVATE ${PAM_INCLUDE_DIR})
set_target_properties(oath_check PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF
                      AUTOMOC OFF AUTORCC OFF)

if(NOT (PAM_OATH_MODULE AND OATHTOOL))
    message(STATUS "pam_oath reference tests left out: libpam-oath or oathtool missing")
    return()
endif()
# The users file is written by vnotp-cli programming a virtual key. One test
# needs no privilege; the FreeRADIUS one writes its PAM service file to
# /etc/pam.d and is skipped (77) without root.
set(_oath_script ${CMAKE_CURRENT_LIST_DIR}/oath_reference_test.sh)
set(_oath_args $<TARGET_FILE:oath_check> ${PAM_OATH_MODULE} $<TARGET_FILE_DIR:vnotp-cli>)
add_test(NAME oath_reference COMMAND bash ${_oath_script} ${_oath_args} usersfile pam)
add_test(NAME oath_reference_radius COMMAND bash ${_oath_script} ${_oath_args} radius)
# pam_oath 2.6.7 never frees the answer of our conversation function.
set_tests_properties(oath_reference oath_reference_radius PROPERTIES
    TIMEOUT 120 SKIP_RETURN_CODE 77
    REQUIRED_FILES "$<TARGET_FILE:vnotp-cli>;$<TARGET_FILE:vnkey>"
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0;LC_ALL=C.UTF-8")
