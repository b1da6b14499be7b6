# write_if_changed(PATH TEXT): writes TEXT to PATH only when it differs from what is there, so
# that a generated header rewritten at every build recompiles nothing while it stays the same.
function(write_if_changed path text)
  set(old "")
  if(EXISTS "${path}")
    file(READ "${path}" old)
  endif()
  if(NOT text STREQUAL old)
    file(WRITE "${path}" "${text}")
  endif()
endfunction()
