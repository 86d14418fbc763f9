# quellor_stripped(TARGET FILE_NAME): stripped/FILE_NAME beside the target's list folder,
# the target's binary without its symbols. That copy is what ships; the one the target
# builds keeps its symbols for debugging (and for the tests that link it).
function(quellor_stripped target name)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/stripped/${name})
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/stripped
    COMMAND ${CMAKE_STRIP} --strip-all -o ${out} $<TARGET_FILE:${target}>
    DEPENDS ${target}
    COMMENT "Stripping ${name}"
    VERBATIM)
  add_custom_target(${target}_stripped ALL DEPENDS ${out})
endfunction()
