# The version, written once: project(vrex VERSION ...) in the top-level
# CMakeLists.txt. Code takes it from the generated header vrex_version.h
# (target vrex_version); packages, the man page and the Windows suite take
# PROJECT_VERSION.
#
#   VREX_VERSION        "<major>.<minor>.<patch>"
#   VREX_VERSION_SHORT  "<major>.<minor>", as the banner and the man page show it
set(VREX_VERSION ${PROJECT_VERSION})
set(VREX_VERSION_SHORT ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})

set(VREX_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vrex_version.h.in ${VREX_GENERATED_DIR}/vrex_version.h @ONLY)

add_library(vrex_version INTERFACE)
target_include_directories(vrex_version INTERFACE ${VREX_GENERATED_DIR})
