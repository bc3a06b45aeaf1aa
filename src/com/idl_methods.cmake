# Reads the methods of ISession from pellory.idl, in vtable order, and writes
# them as a C++ list for idl_check.cpp to compare with
# plugin/session_methods.h:
#   X(position, dispatch id, Name, "arguments as declared")
# Usage: cmake -DIDL=pellory.idl -DOUT=pellory_idl_methods.h -P idl_methods.cmake
file(READ "${IDL}" idl)
string(REGEX REPLACE "//[^\n]*" "" idl "${idl}")
string(REGEX REPLACE "[ \t\r\n]+" " " idl "${idl}")
string(REGEX MATCH "interface ISession : IDispatch {[^}]*}" body "${idl}")
if(NOT body)
  message(FATAL_ERROR "${IDL}: no \"interface ISession : IDispatch { ... }\"")
endif()
string(REGEX MATCHALL "HRESULT" declared "${body}")
string(REGEX MATCHALL "\\[id\\([0-9]+\\)\\] HRESULT [A-Za-z0-9_]+\\([^)]*\\)" methods "${body}")
list(LENGTH declared declared_count)
list(LENGTH methods count)
if(NOT count EQUAL declared_count)
  message(FATAL_ERROR "${IDL}: ${declared_count} methods in ISession, ${count} of them in the "
                      "form \"[id(N)] HRESULT Name(arguments)\" that this check reads")
endif()

set(out "// Made by idl_methods.cmake from pellory.idl: the methods of ISession in\n")
string(APPEND out "// vtable order.\n#define PELLORY_IDL_SESSION_METHODS(X)")
set(position 0)
foreach(method IN LISTS methods)
  math(EXPR position "${position} + 1")
  string(REGEX MATCH "^\\[id\\(([0-9]+)\\)\\] HRESULT ([A-Za-z0-9_]+)\\((.*)\\)$" _ "${method}")
  string(STRIP "${CMAKE_MATCH_3}" arguments)
  string(APPEND out " \\\n  X(${position}, ${CMAKE_MATCH_1}, ${CMAKE_MATCH_2}, \"${arguments}\")")
endforeach()
string(APPEND out "\n")
file(WRITE "${OUT}" "${out}")
