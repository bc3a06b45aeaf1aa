# Tests of the ODBC engines and the .reg registry adapter.
if(TARGET pellory_odbc)
  pellory_add_test(odbc_engines_test SOURCES odbc_engines_test.cpp LIBS pellory_odbc)
endif()
pellory_add_test(reg_registry_test SOURCES reg_registry_test.cpp LIBS pellory_posix)
