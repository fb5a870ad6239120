# cmake -DPACKAGE_DIR=FOLDER -DOBJDUMP=PROGRAM -P check-package-imports.cmake
#
# Fails when the deployable folder holds a DLL the tool must not load, or a
# program or DLL in it imports one: Qt5Gui.dll (the tool needs Qt Core and
# Network only), and d3d11.dll and dxgi.dll, which are no KnownDLLs, so that
# Windows would look for them in the tool's folder first. The imports are
# read with MinGW's objdump -p ("DLL Name: ..." lines).

cmake_minimum_required(VERSION 3.16)

set(forbidden qt5gui.dll d3d11.dll dxgi.dll)

file(GLOB binaries "${PACKAGE_DIR}/*.exe" "${PACKAGE_DIR}/*.dll")
if(NOT binaries)
    message(FATAL_ERROR "No program or DLL in ${PACKAGE_DIR}")
endif()

set(problems)
foreach(binary ${binaries})
    get_filename_component(name "${binary}" NAME)
    string(TOLOWER "${name}" lowerName)
    if(lowerName IN_LIST forbidden)
        list(APPEND problems "${name} is in the folder")
    endif()
    execute_process(COMMAND "${OBJDUMP}" -p "${binary}"
        OUTPUT_VARIABLE dump RESULT_VARIABLE result ERROR_VARIABLE error)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${OBJDUMP} -p ${name} failed: ${error}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" importLines "${dump}")
    # Every program and DLL imports at least from KERNEL32.dll: none read
    # means that the check itself no longer works.
    if(NOT importLines)
        message(FATAL_ERROR "No imports read from ${name}")
    endif()
    foreach(line ${importLines})
        string(REPLACE "DLL Name: " "" import "${line}")
        string(STRIP "${import}" import)
        string(TOLOWER "${import}" lowerImport)
        if(lowerImport IN_LIST forbidden)
            list(APPEND problems "${name} imports ${import}")
        endif()
    endforeach()
endforeach()

if(problems)
    list(JOIN problems "; " text)
    message(FATAL_ERROR "The deployable folder must not load Qt Gui, d3d11 or dxgi: ${text}")
endif()
