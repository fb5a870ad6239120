# MinGW builds only. The target windows-package lays out the deployable folder
# tarnwick-dns-<version>/ in the build folder (the tool, the Qt DLLs it links:
# Qt5Core.dll and Qt5Network.dll, the MinGW runtime DLLs and
# check-on-windows.cmd), checks what its programs and DLLs import
# (check-package-imports.cmake) and zips it as
# tarnwick-dns-<version>-win64.zip. Only the tool and its check go in: whatever
# else a Windows build makes stays out.

set(TARNWICK_PACKAGE_NAME ${PROJECT_NAME}-${PROJECT_VERSION})
set(TARNWICK_PACKAGE_DIR ${CMAKE_BINARY_DIR}/${TARNWICK_PACKAGE_NAME})
set(TARNWICK_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/${TARNWICK_PACKAGE_NAME}-win64.zip)

if(NOT CMAKE_OBJDUMP)
    message(FATAL_ERROR "No objdump for the package's import check")
endif()

# The compiler knows where its own runtime DLLs are.
set(TARNWICK_RUNTIME_DLLS)
foreach(dll libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
        OUTPUT_VARIABLE dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${dll_path}" OR NOT EXISTS "${dll_path}")
        message(FATAL_ERROR "The MinGW runtime ${dll} was not found")
    endif()
    list(APPEND TARNWICK_RUNTIME_DLLS ${dll_path})
endforeach()

# The check to run on a real Windows machine, with the project's version; cmd
# reads batch files with CR LF line ends.
set(TARNWICK_WINDOWS_CHECK ${CMAKE_BINARY_DIR}/check-on-windows.cmd)
configure_file(${PROJECT_SOURCE_DIR}/windows/check-on-windows.cmd.in ${TARNWICK_WINDOWS_CHECK}
    @ONLY NEWLINE_STYLE CRLF)

add_custom_target(windows-package
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${TARNWICK_PACKAGE_DIR} ${TARNWICK_PACKAGE_ZIP}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TARNWICK_PACKAGE_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy
        $<TARGET_FILE:tarnwick-dns>
        $<TARGET_FILE:Qt5::Core> $<TARGET_FILE:Qt5::Network>
        ${TARNWICK_RUNTIME_DLLS} ${TARNWICK_WINDOWS_CHECK}
        ${PROJECT_SOURCE_DIR}/windows/check-on-windows.ps1
        ${TARNWICK_PACKAGE_DIR}
    # Debian's MinGW runtime DLLs carry their debugging symbols (most of the
    # 23 MB of libstdc++-6.dll); the deployed copies do without.
    COMMAND ${CMAKE_STRIP} --strip-unneeded ${TARNWICK_PACKAGE_DIR}/libgcc_s_seh-1.dll
        ${TARNWICK_PACKAGE_DIR}/libstdc++-6.dll ${TARNWICK_PACKAGE_DIR}/libwinpthread-1.dll
    COMMAND ${CMAKE_COMMAND} -DPACKAGE_DIR=${TARNWICK_PACKAGE_DIR} -DOBJDUMP=${CMAKE_OBJDUMP}
        -P ${CMAKE_CURRENT_LIST_DIR}/check-package-imports.cmake
    COMMAND ${CMAKE_COMMAND} -E tar cf ${TARNWICK_PACKAGE_ZIP} --format=zip ${TARNWICK_PACKAGE_NAME}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS tarnwick-dns
    COMMENT "Packaging ${TARNWICK_PACKAGE_NAME}-win64.zip"
    VERBATIM)
