# Calls that only some systems have. Each becomes a compile definition NAVLUME_HAVE_<NAME>,
# 1 or 0, and the code keeps the plain POSIX way beside every one of them. NAVLUME_PORTABLE=ON
# sets the fast paths of Linux and glibc to 0, so that a Linux build takes the roads that
# macOS takes and CI runs them. The ways of macOS itself are checked the same way and simply
# absent on Linux.
include(CheckCXXSourceCompiles)
include(CheckCXXSymbolExists)
include(CheckIncludeFileCXX)

option(NAVLUME_PORTABLE "Use only the POSIX ways, none of the Linux and glibc fast paths" OFF)

# navlume_feature(NAME FAST|OWN <check>...): runs the check (a symbol in headers or a source
# that must compile) and defines NAVLUME_HAVE_NAME. FAST ones are off in a portable build.
function(navlume_feature name kind how)
    set(result_var NAVLUME_CHECK_${name})
    if(kind STREQUAL FAST AND NAVLUME_PORTABLE)
        set(found 0)
    else()
        if(how STREQUAL SYMBOL)
            check_cxx_symbol_exists(${ARGV3} "${ARGV4}" ${result_var})
        elseif(how STREQUAL SOURCE)
            check_cxx_source_compiles("${ARGV3}" ${result_var})
        elseif(how STREQUAL HEADER)
            check_include_file_cxx(${ARGV3} ${result_var})
        elseif(how STREQUAL PATH)
            if(EXISTS ${ARGV3})
                set(${result_var} 1)
            endif()
        endif()
        set(found 0)
        if(${result_var})
            set(found 1)
        endif()
    endif()
    add_compile_definitions(NAVLUME_HAVE_${name}=${found})
    set(NAVLUME_HAVE_${name} ${found} PARENT_SCOPE)
    list(APPEND NAVLUME_FEATURE_SUMMARY "${name}=${found}")
    set(NAVLUME_FEATURE_SUMMARY "${NAVLUME_FEATURE_SUMMARY}" PARENT_SCOPE)
endfunction()

# Linux and glibc.
navlume_feature(PIPE2 FAST SYMBOL pipe2 "unistd.h;fcntl.h")
navlume_feature(RENAME_EXCHANGE FAST SOURCE "
    #include <fcntl.h>
    #include <stdio.h>
    int main() { return renameat2(AT_FDCWD, \"a\", AT_FDCWD, \"b\", RENAME_EXCHANGE); }")
navlume_feature(MSG_NOSIGNAL FAST SYMBOL MSG_NOSIGNAL "sys/socket.h")
navlume_feature(SOCK_CLOEXEC FAST SOURCE "
    #include <sys/socket.h>
    int main() { return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0); }")
navlume_feature(ACCEPT4 FAST SYMBOL accept4 "sys/socket.h")
navlume_feature(SPAWN_CLOSEFROM FAST SYMBOL posix_spawn_file_actions_addclosefrom_np "spawn.h")
navlume_feature(TCP_KEEPIDLE FAST SOURCE "
    #include <netinet/in.h>
    #include <netinet/tcp.h>
    int main() { return TCP_KEEPIDLE + TCP_KEEPINTVL + TCP_KEEPCNT; }")
navlume_feature(SIGTIMEDWAIT FAST SYMBOL sigtimedwait "signal.h")
navlume_feature(PROC_SELF_EXE FAST PATH /proc/self/exe)
# Reading numbers in the "C" locale: strtod_l where it exists (macOS declares it in
# <xlocale.h>), else strtod under uselocale.
navlume_feature(XLOCALE_H OWN HEADER xlocale.h)
set(CMAKE_REQUIRED_DEFINITIONS -DNAVLUME_HAVE_XLOCALE_H=${NAVLUME_HAVE_XLOCALE_H})
navlume_feature(STRTOD_L FAST SOURCE "
    #include <locale.h>
    #include <stdlib.h>
    #if NAVLUME_HAVE_XLOCALE_H
    #include <xlocale.h>
    #endif
    int main() {
        locale_t c = newlocale(LC_ALL_MASK, \"C\", (locale_t)0);
        return strtod_l(\"1.5\", 0, c) > 1.0 ? 0 : 1;
    }")
unset(CMAKE_REQUIRED_DEFINITIONS)

# macOS.
navlume_feature(SO_NOSIGPIPE OWN SYMBOL SO_NOSIGPIPE "sys/socket.h")
navlume_feature(TCP_KEEPALIVE OWN SOURCE "
    #include <netinet/in.h>
    #include <netinet/tcp.h>
    int main() { return TCP_KEEPALIVE + TCP_KEEPINTVL + TCP_KEEPCNT; }")
navlume_feature(SPAWN_CLOEXEC_DEFAULT OWN SYMBOL POSIX_SPAWN_CLOEXEC_DEFAULT "spawn.h")
navlume_feature(NSGETEXECUTABLEPATH OWN SYMBOL _NSGetExecutablePath "mach-o/dyld.h")

message(STATUS "Platform features (portable ${NAVLUME_PORTABLE}): ${NAVLUME_FEATURE_SUMMARY}")
