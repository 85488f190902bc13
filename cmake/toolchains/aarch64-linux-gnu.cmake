# 64-bit ARM: cmake --toolchain this file.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VELD_TRIPLE aarch64-linux-gnu)
set(VELD_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
