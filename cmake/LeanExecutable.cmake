# lumivo_lean_executable(TARGET): the agent's own binary carries the C++
# runtime itself (a shared libstdc++ costs more resident memory than the parts
# it uses) and drops every function and datum that nothing reaches.
function(lumivo_lean_executable target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -ffunction-sections -fdata-sections)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc -Wl,--gc-sections)
  endif()
endfunction()
