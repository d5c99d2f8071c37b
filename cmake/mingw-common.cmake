# The -posix compilers: GoogleTest needs std::thread and std::mutex. The installer itself pulls
# nothing of the threads library: without exceptions it needs no thread-local state or guards.
set(CMAKE_C_COMPILER   ${MV_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MV_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${MV_TRIPLE}-windres)
# The libraries hold link-time-optimisation objects: the archiver needs the compiler's plugin.
set(CMAKE_AR     ${MV_TRIPLE}-gcc-ar-posix)
set(CMAKE_RANLIB ${MV_TRIPLE}-gcc-ranlib-posix)
set(CMAKE_FIND_ROOT_PATH /usr/${MV_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
