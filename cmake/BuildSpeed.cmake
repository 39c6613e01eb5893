# Build time, which CI pays three times (plain, ASan+UBSan, TSan) on two cores.
# Tests and the helper programs they start are compiled at -O1 with line tables only:
# about half the time of -O2 -g, and every failure and sanitizer report still names its
# source line. GoogleTest's headers are precompiled once a test program. Qt's, CLI11's
# and Asio's are not: their precompiled files (150-370 MB with debug information) made
# every file that loads them slower than parsing the headers (measured: +90 s for the
# command line, +75 s for the window library on a cold build).
option(QZ81KT_PCH "Precompile the heavy third-party headers" ON)

# LLVM's linker, where installed, links a test program in a quarter of GNU ld's time
# (measured: 0.5 s against 2.0 s, for some eighty programs a CI run).
option(QZ81KT_LLD "Link with lld when the compiler can" ON)
if(QZ81KT_LLD)
  include(CheckLinkerFlag)
  check_linker_flag(CXX -fuse-ld=lld QZ81KT_HAVE_LLD)
  if(QZ81KT_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
  endif()
endif()

function(qz81kt_test_target target)
  target_compile_options(${target} PRIVATE -O1 -g1)
endfunction()

function(qz81kt_precompile target)
  if(QZ81KT_PCH)
    target_precompile_headers(${target} PRIVATE ${ARGN})
  endif()
endfunction()
