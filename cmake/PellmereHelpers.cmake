# Build conventions shared by every module, test and tool of Pellmere.

if(PELLMERE_SANITIZE AND PELLMERE_TSAN)
  message(FATAL_ERROR "PELLMERE_SANITIZE and PELLMERE_TSAN cannot be combined")
endif()
if(PELLMERE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(PELLMERE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Warnings apply to our own targets only, never to third-party headers.
function(pellmere_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wcast-align -Woverloaded-virtual -Wformat=2)
  if(PELLMERE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# pellmere_add_module(<name> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# One static library per source folder; its folder is the include root of its headers,
# and src/ is on the include path so headers are named "platform/PropertyList.h".
function(pellmere_add_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  target_compile_definitions(${name} PUBLIC QT_NO_KEYWORDS QT_USE_QSTRINGBUILDER
                                            PELLMERE_VERSION="${PROJECT_VERSION}")
  pellmere_set_warnings(${name})
endfunction()

# pellmere_add_test(<name> SOURCES ... LIBS ... [LABELS ...] [TIMEOUT seconds])
# GoogleTest executables with a Qt application object (tests/support/TestMain.cpp).
function(pellmere_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} pm_test_support GTest::gtest GTest::gmock)
  pellmere_set_warnings(${name})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()

# Installs every plugin (MODULE library) built into the agent's folder beside the agent, in
# libexec, where the agent looks for them (beside its own executable). A plugin needs no
# install rule of its own.
function(pellmere_install_agent_modules dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    get_target_property(output ${target} LIBRARY_OUTPUT_DIRECTORY)
    if(type STREQUAL "MODULE_LIBRARY" AND output STREQUAL "${PROJECT_BINARY_DIR}/src/agent/app")
      # Loaded, never run: not executable.
      install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBEXECDIR} COMPONENT pellmere
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    pellmere_install_agent_modules(${subdir})
  endforeach()
endfunction()
