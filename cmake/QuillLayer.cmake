# quill_layer(<target> <folder>): <target> is the library of the layer in
# src/<folder>, whose headers are included as "<folder>/<name>.h".
#
# Each layer has an include root of its own in the build tree that holds a
# link to src/<folder> and nothing else, and makes it PUBLIC: a target sees
# the headers of exactly the layers it links (directly or through another
# layer), so including a layer above fails to compile rather than quietly
# turning the layers around. scripts/check-layers checks the same order
# without a build.
function(quill_layer target folder)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()
