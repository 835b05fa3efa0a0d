# Compiler settings shared by every target of the project: link this
# INTERFACE target instead of repeating flags per target.
add_library(ferrox_settings INTERFACE)
add_library(Ferrox::settings ALIAS ferrox_settings)
target_compile_features(ferrox_settings INTERFACE cxx_std_17)
target_compile_options(ferrox_settings INTERFACE
  -Wall -Wextra -Wpedantic -Wno-long-long
  -Werror=narrowing # a narrowing braced initialiser is ill-formed, not a matter of style
  $<$<CONFIG:Debug>:-O0 -g>)
target_compile_definitions(ferrox_settings INTERFACE
  QT_NO_FOREACH
  QT_DEPRECATED_WARNINGS)
set(CMAKE_CXX_EXTENSIONS OFF)
