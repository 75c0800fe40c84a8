# Run after linking VeskTrayClient.dll (cmake -P): writes the .def file other compilers'
# tools make their import library from, and the MinGW import library made from that file.
#   -DLINKER_DEF=  what the linker wrote (--output-def)
#   -DDEF=         the .def file to write
#   -DDLL_NAME=    the DLL's file name
#   -DDLLTOOL=     the target's dlltool
#   -DIMPORT_LIBRARY=  the import library to write
#
# On i686 the DLL exports plain names (--kill-at), while callers of a stdcall function refer
# to it as Name@bytes; the linker lists each export as "Name = Name@bytes". The .def file keeps
# the decorated form, and dlltool -k makes a library that binds Name@bytes to the plain
# export. (The linker's own import library would offer only the plain names, which no
# stdcall caller asks for.) On x86_64 there is no decoration and both forms are the same.
file(STRINGS "${LINKER_DEF}" lines)
set(exports "")
foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]*=[ \t]*([A-Za-z_][A-Za-z0-9_@]*)")
        string(APPEND exports "    ${CMAKE_MATCH_2}\n")
    elseif(line MATCHES "^[ \t]+([A-Za-z_][A-Za-z0-9_@]*)")
        string(APPEND exports "    ${CMAKE_MATCH_1}\n")
    endif()
endforeach()
if(exports STREQUAL "")
    message(FATAL_ERROR "${LINKER_DEF} lists no exports")
endif()
file(WRITE "${DEF}" "LIBRARY \"${DLL_NAME}\"\nEXPORTS\n${exports}")
execute_process(COMMAND "${DLLTOOL}" -k -d "${DEF}" -D "${DLL_NAME}" -l "${IMPORT_LIBRARY}"
                RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${DLLTOOL} could not make ${IMPORT_LIBRARY} from ${DEF}")
endif()
