# Floating point and vector code of the pixel kernels (src/acquisition, src/color).
#
# No contraction of a multiply and an add into one fused operation anywhere: the images
# must come out bit for bit the same whatever the compiler, the optimisation level and the
# processor (the AVX2 builds of the kernels included; see src/core/simd.h).
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-ffp-contract=off)
endif()

# The kernels' loops over plain arrays are written for the vectoriser; let it work at every
# optimisation level the builds use (-O2 included), weighing the cost of each loop. Without
# floating-point traps it may compute both sides of a selection (the values are the same;
# no kernel reads the exception flags).
function(ucap_vectorise_kernels)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS
      "$<$<NOT:$<CONFIG:Debug>>:-ftree-vectorize;-fvect-cost-model=dynamic;-fno-trapping-math>")
  endif()
endfunction()

# MinGW-w64 GCC does not align the stack to 32 bytes for the AVX2 builds' spilled vectors
# yet may address those slots with aligned moves; the assembler turns every aligned vector
# move into its unaligned form, which is as fast on aligned data.
if(MINGW AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wa,-muse-unaligned-vector-move)
endif()
