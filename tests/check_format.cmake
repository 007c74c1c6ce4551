# Fails when a tracked C++ source differs from what clang-format makes of it.
file(GLOB_RECURSE sources
     ${ROOT}/engine/*.h ${ROOT}/engine/*.cpp ${ROOT}/files/*.h ${ROOT}/files/*.cpp
     ${ROOT}/platform/*.h ${ROOT}/platform/*.cpp ${ROOT}/dsvpwm/*.h ${ROOT}/dsvpwm/*.cpp ${ROOT}/cli/*.h
     ${ROOT}/cli/*.cpp ${ROOT}/identification/*.h ${ROOT}/identification/*.cpp
     ${ROOT}/tuning/*.h ${ROOT}/tuning/*.cpp ${ROOT}/tests/*.h ${ROOT}/tests/*/*.h ${ROOT}/tests/*/*.cpp
     ${ROOT}/bench/*.h ${ROOT}/bench/*.cpp ${ROOT}/examples/*.h
     ${ROOT}/fit/*.h ${ROOT}/fit/*.cpp ${ROOT}/sweep/*.h ${ROOT}/sweep/*.cpp ${ROOT}/viewer/*.h
     ${ROOT}/viewer/*.cpp ${ROOT}/viewer/*/*.h ${ROOT}/viewer/*/*.cpp ${ROOT}/ui/*.h ${ROOT}/ui/*.cpp
     ${ROOT}/ui/*/*.h ${ROOT}/ui/*/*.cpp ${ROOT}/python/*.h ${ROOT}/python/*.cpp
     ${ROOT}/tests/*/*/*.h ${ROOT}/tests/*/*/*.cpp)
execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${sources}
                RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Sources not formatted (run clang-format -i on them):\n${errors}")
endif()
