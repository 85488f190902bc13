# Shared part of the cross toolchain files: Debian's cross compiler for VELD_TRIPLE, the
# target's libraries from Debian's multiarch packages (scripts/deps armhf|arm64 installs both),
# and qemu-user as the emulator, so that CTest and GoogleTest's test discovery run the target's
# programs on the build machine. -cpu max gives the emulated CPU every optional extension (the
# ARMv8 Crypto Extensions among them), so that hardware paths chosen at run time are exercised.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${VELD_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VELD_TRIPLE}-g++)
# Multiarch: the target's libraries live in /usr/lib/<triple>, its CMake packages and
# pkg-config files beside them; nothing of the build machine's own may be picked up.
set(CMAKE_LIBRARY_ARCHITECTURE ${VELD_TRIPLE})
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${VELD_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
# The programs run on the target's own multiarch runtime (its C library, libstdc++ and UBSan
# runtime from Debian's <name>:<arch> packages), found where the target's dynamic linker
# looks. qemu's -L with the cross compiler's folder would mix that folder's C library build
# with the multiarch one, and its dynamic linker would read the build machine's library cache.
set(CMAKE_CROSSCOMPILING_EMULATOR ${VELD_QEMU} -cpu max)
