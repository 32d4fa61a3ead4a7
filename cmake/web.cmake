# The WebAssembly programs, from an Emscripten configure (tools/build-web.sh):
#   vorna.js          the Node console program: `node vorna.js`, standard input and output, log file
#   vorna-worker.js   the engine as a browser's Web Worker, its input in shared memory (an isolated page)
#   vorna-worker-messages.js  the same, its input as messages (any other page)
#   vorna-engine.js   the ES module a page imports to start and talk to that worker
#   vorna-bench.js    the benchmark program under Node (`node vorna-bench.js search 8`)
# Each program carries its WebAssembly inside (SINGLE_FILE): nothing to fetch beside it. The JavaScript
# that connects the engine to its host lives in platform/wasm/.
set(VORNA_WASM_GLUE ${CMAKE_CURRENT_SOURCE_DIR}/platform/wasm)

# Debian's Emscripten runs its JavaScript optimiser at the link, and that finds its modules (acorn)
# through NODE_PATH only: every link gets it, so that a plain `cmake --build` works too.
if(IS_DIRECTORY /usr/share/nodejs)
  set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env "NODE_PATH=/usr/share/nodejs")
endif()

add_library(vorna_core_wasm STATIC ${VORNA_CORE_SOURCES})
target_include_directories(vorna_core_wasm PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})

# The transposition table (128 MiB) and the rest in one fixed memory; the stack holds the search's
# move lists, one per ply.
set(VORNA_WASM_LINK
  -sINITIAL_MEMORY=160MB -sTOTAL_STACK=4MB -sSINGLE_FILE=1 -sEXIT_RUNTIME=1
  "--js-library=${VORNA_WASM_GLUE}/library_vorna.js")
set(VORNA_WASM_NODE -sENVIRONMENT=node -sNODERAWFS=1)
# The engine for input that comes as messages (message_input.js): Asyncify lets the two input calls
# pause the engine and resume it. Only the functions on the way from main to those calls are rewritten
# (main, the protocol loops, the search's recursion, the poll: no indirect call leads there), and the
# unwound stack of the deepest search (a frame of locals per ply, 1024 plies at most) fits its buffer.
set(VORNA_WASM_MESSAGES
  -sASYNCIFY=1 -sASYNCIFY_IGNORE_INDIRECT=1 -sASYNCIFY_IMPORTS=vorna_input_read,vorna_input_waiting
  -sASYNCIFY_STACK_SIZE=1048576)
set(VORNA_WASM_JS library_vorna.js input_queue.js message_input.js node_main.js worker_pre.js
    worker_shared_memory.js worker_messages.js bench_pre.js)
list(TRANSFORM VORNA_WASM_JS PREPEND ${VORNA_WASM_GLUE}/)

function(vorna_wasm_program target source)
  add_executable(${target} ${source})
  target_link_libraries(${target} PRIVATE vorna_core_wasm)
  target_link_options(${target} PRIVATE ${VORNA_WASM_LINK} ${ARGN})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${VORNA_WASM_JS})
endfunction()

# Node: two factories in one program, VornaNode (shared-memory input) and VornaNodeMessages (message
# input), that node_main.js calls in a worker thread, its main thread feeding the input. The second is
# linked on its own first and goes into vorna.js whole.
vorna_wasm_program(vorna-node-messages frontend/main.cpp ${VORNA_WASM_NODE} ${VORNA_WASM_MESSAGES}
  -sMODULARIZE=1 -sEXPORT_NAME=VornaNodeMessages)
set_target_properties(vorna-node-messages PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/parts)
vorna_wasm_program(vorna frontend/main.cpp ${VORNA_WASM_NODE} -sMODULARIZE=1 -sEXPORT_NAME=VornaNode
  "--extern-pre-js=${VORNA_WASM_GLUE}/input_queue.js" "--extern-pre-js=${VORNA_WASM_GLUE}/message_input.js"
  "--extern-pre-js=${CMAKE_BINARY_DIR}/parts/vorna-node-messages.js"
  "--extern-post-js=${VORNA_WASM_GLUE}/node_main.js")
add_dependencies(vorna vorna-node-messages)
set_property(TARGET vorna APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/parts/vorna-node-messages.js)

# The browser's two workers: one reads a shared-memory queue, the other messages.
vorna_wasm_program(vorna-worker frontend/main.cpp -sENVIRONMENT=worker
  "--pre-js=${VORNA_WASM_GLUE}/input_queue.js" "--pre-js=${VORNA_WASM_GLUE}/worker_shared_memory.js"
  "--pre-js=${VORNA_WASM_GLUE}/worker_pre.js")
vorna_wasm_program(vorna-worker-messages frontend/main.cpp -sENVIRONMENT=worker ${VORNA_WASM_MESSAGES}
  "--pre-js=${VORNA_WASM_GLUE}/message_input.js" "--pre-js=${VORNA_WASM_GLUE}/worker_messages.js"
  "--pre-js=${VORNA_WASM_GLUE}/worker_pre.js")
vorna_wasm_program(vorna-bench bench/bench.cpp ${VORNA_WASM_NODE}
  "--pre-js=${VORNA_WASM_GLUE}/input_queue.js" "--pre-js=${VORNA_WASM_GLUE}/bench_pre.js")

# The page's module carries its own copy of the input queue and of the engine object it shares with the
# npm package's Node module (tools/build-npm.sh); the shell's redirection: no VERBATIM.
set(VORNA_ENGINE_MODULE input_queue.js engine_connection.js engine_module.js)
list(TRANSFORM VORNA_ENGINE_MODULE PREPEND ${VORNA_WASM_GLUE}/)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/vorna-engine.js
  COMMAND ${CMAKE_COMMAND} -E cat ${VORNA_ENGINE_MODULE} > ${CMAKE_BINARY_DIR}/vorna-engine.js
  DEPENDS ${VORNA_ENGINE_MODULE})
add_custom_target(vorna-engine ALL DEPENDS ${CMAKE_BINARY_DIR}/vorna-engine.js)
