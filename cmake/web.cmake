# The WebAssembly programs, from an Emscripten configure (tools/build-web.sh):
#   vorna.js          the Node console program: `node vorna.js`, standard input and output, log file
#   vorna-worker.js   the engine as a browser's Web Worker
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

function(vorna_wasm_program target source)
  add_executable(${target} ${source})
  target_link_libraries(${target} PRIVATE vorna_core_wasm)
  target_link_options(${target} PRIVATE ${VORNA_WASM_LINK} ${ARGN})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
               ${VORNA_WASM_GLUE}/library_vorna.js ${VORNA_WASM_GLUE}/input_queue.js
               ${VORNA_WASM_GLUE}/node_main.js ${VORNA_WASM_GLUE}/worker_pre.js ${VORNA_WASM_GLUE}/bench_pre.js)
endfunction()

# Node: a factory (VornaNode) that node_main.js calls in a worker thread, its main thread feeding the input.
vorna_wasm_program(vorna frontend/main.cpp ${VORNA_WASM_NODE} -sMODULARIZE=1 -sEXPORT_NAME=VornaNode
  "--extern-pre-js=${VORNA_WASM_GLUE}/input_queue.js" "--extern-post-js=${VORNA_WASM_GLUE}/node_main.js")
vorna_wasm_program(vorna-worker frontend/main.cpp -sENVIRONMENT=worker
  "--pre-js=${VORNA_WASM_GLUE}/input_queue.js" "--pre-js=${VORNA_WASM_GLUE}/worker_pre.js")
vorna_wasm_program(vorna-bench bench/bench.cpp ${VORNA_WASM_NODE}
  "--pre-js=${VORNA_WASM_GLUE}/input_queue.js" "--pre-js=${VORNA_WASM_GLUE}/bench_pre.js")

# The page's module carries its own copy of the input queue (the shell's redirection: no VERBATIM).
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/vorna-engine.js
  COMMAND ${CMAKE_COMMAND} -E cat ${VORNA_WASM_GLUE}/input_queue.js ${VORNA_WASM_GLUE}/engine_module.js
          > ${CMAKE_BINARY_DIR}/vorna-engine.js
  DEPENDS ${VORNA_WASM_GLUE}/input_queue.js ${VORNA_WASM_GLUE}/engine_module.js)
add_custom_target(vorna-engine ALL DEPENDS ${CMAKE_BINARY_DIR}/vorna-engine.js)
