# Microsoft's ABI for 32-bit Windows, with LLVM's tools in the places of Visual Studio's: clang-cl
# for cl.exe, lld-link for link.exe, llvm-lib for lib.exe.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
find_program(CMAKE_CXX_COMPILER NAMES clang-cl clang-cl-14 REQUIRED)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
find_program(CMAKE_LINKER NAMES lld-link lld-link-14 REQUIRED)
find_program(CMAKE_AR NAMES llvm-lib llvm-lib-14 REQUIRED)
find_program(CMAKE_MT NAMES llvm-mt llvm-mt-14)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc llvm-rc-14)
# No Microsoft C runtime here to link a test program against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
