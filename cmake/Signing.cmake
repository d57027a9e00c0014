# Authenticode signatures of what the build ships (tools/sign.sh): the station's certificate from the
# environment, or else the build's test certificate, made once for both targets' trees.
set(KELPLAYERX_SIGN_TEST_DIR ${CMAKE_BINARY_DIR}/../signing)

# Signs a shipped program or control each time it is linked.
function(kel_sign target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/tools/sign.sh ${KELPLAYERX_SIGN_TEST_DIR} $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
