# 32-bit ARM (hard float), the television's own word size: cmake --toolchain this file.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(VELD_TRIPLE arm-linux-gnueabihf)
set(VELD_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
