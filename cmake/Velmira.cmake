# velmira_library(NAME DIR LAYER N [RECURSE] [DEPS lib...] [PACKAGES target...])
#
# A static library from DIR's *.cpp files. Every library sits on a layer and
# may use only libraries on lower layers: a dependency on the same or a higher
# layer stops the configuration, so the library graph can never hold a cycle.
# DEPS names the engine libraries it uses directly, PACKAGES the external
# libraries; both are passed on to whatever links it. A folder without
# sources yet makes no library, and depending on it links nothing.
function(velmira_library name dir)
  cmake_parse_arguments(ARG "RECURSE" "LAYER" "DEPS;PACKAGES" ${ARGN})
  if(NOT DEFINED ARG_LAYER)
    message(FATAL_ERROR "velmira_library(${name}): LAYER is required")
  endif()
  set_property(GLOBAL PROPERTY VM_LAYER_${name} ${ARG_LAYER})
  foreach(dep ${ARG_DEPS})
    get_property(dep_layer GLOBAL PROPERTY VM_LAYER_${dep})
    if("${dep_layer}" STREQUAL "")
      message(FATAL_ERROR "velmira_library(${name}): ${dep} must be declared before the libraries that use it")
    endif()
    if(NOT dep_layer LESS ARG_LAYER)
      message(FATAL_ERROR "velmira_library(${name}) on layer ${ARG_LAYER} uses ${dep} on layer ${dep_layer}: "
                          "a library may only use libraries on lower layers")
    endif()
  endforeach()

  if(ARG_RECURSE)
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*.cpp)
  endif()
  velmira_existing(deps ${ARG_DEPS})
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_link_libraries(${name} PUBLIC velmira_common ${deps} ${ARG_PACKAGES})
    if(TARGET velmira_check_includes)
      add_dependencies(${name} velmira_check_includes)
    endif()
  else()
    # An empty folder still passes on what it would depend on.
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE velmira_common ${deps} ${ARG_PACKAGES})
  endif()
endfunction()

# Keeps the names of libraries that exist.
function(velmira_existing out)
  set(result "")
  foreach(lib ${ARGN})
    if(TARGET ${lib})
      list(APPEND result ${lib})
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# velmira_link(TARGET LIBS...): an executable links the libraries it uses;
# their own dependencies come along.
function(velmira_link target)
  velmira_existing(libs ${ARGN})
  target_link_libraries(${target} PRIVATE velmira_common ${libs})
endfunction()
