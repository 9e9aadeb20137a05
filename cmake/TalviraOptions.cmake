# Common compile options every target links through talvira_options.
add_library(talvira_options INTERFACE)
target_compile_options(talvira_options INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wno-missing-field-initializers
  $<$<BOOL:${TALVIRA_WERROR}>:-Werror>)
if(TALVIRA_SANITIZE)
  target_compile_options(talvira_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(talvira_options INTERFACE -fsanitize=address,undefined)
endif()

# talvira_module(name [QT_WIDGETS] LIBS ...): a static library from every .cpp/.h of the
# current folder (globbed, so a new source file needs no CMake edit).
function(talvira_module name)
  cmake_parse_arguments(ARG "QT_WIDGETS" "" "LIBS;PRIVATE_LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT srcs)
    set(srcs ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC talvira_options ${ARG_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  if(ARG_QT_WIDGETS)
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
  endif()
endfunction()
