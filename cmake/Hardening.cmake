# The distribution's hardening flags (dpkg-buildflags with every hardening
# feature on) for a build that was given no flags of its own.  The package
# build passes them in CXXFLAGS and LDFLAGS itself; the sanitizer and fuzz
# builds keep theirs.  Optimisation, debug information and the file prefix
# map stay the build type's; _FORTIFY_SOURCE goes only where the build
# optimises, since glibc warns (an error here) without optimisation.
option(KURS_HARDENING "Build with the distribution's hardening flags (dpkg-buildflags)" ON)
if(NOT KURS_HARDENING OR KURS_SANITIZE OR KURS_FUZZ
   OR NOT "$ENV{CXXFLAGS}$ENV{CPPFLAGS}$ENV{LDFLAGS}" STREQUAL "")
    return()
endif()
find_program(KURS_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT KURS_DPKG_BUILDFLAGS)
    return()
endif()

function(kurs_buildflags kind out)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${KURS_DPKG_BUILDFLAGS} --get ${kind}
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        set(flags "")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-(g|O|ffile-prefix-map=|fdebug-prefix-map=)")
    set(${out} ${flags} PARENT_SCOPE)
endfunction()

kurs_buildflags(CPPFLAGS kurs_cppflags)
kurs_buildflags(CXXFLAGS kurs_cxxflags)
kurs_buildflags(LDFLAGS kurs_ldflags)
foreach(flag IN LISTS kurs_cppflags kurs_cxxflags)
    if(flag MATCHES "^-D_FORTIFY_SOURCE")
        add_compile_options($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:${flag}>)
    else()
        add_compile_options(${flag})
    endif()
endforeach()
add_link_options(${kurs_ldflags})

# Stack clash protection and control-flow protection, where the compiler has
# them for this machine (debian/rules adds the same to the package's flags).
# Our code gets the control-flow marks; a program keeps them only once the C
# library's start files carry them too, which Debian 12's do not.
include(CheckCXXCompilerFlag)
foreach(flag -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "KURS_HAS${flag}" has_flag)
    check_cxx_compiler_flag(${flag} ${has_flag})
    if(${has_flag})
        add_compile_options(${flag})
        list(APPEND kurs_cxxflags ${flag})
    endif()
endforeach()
message(STATUS "kurs: hardening flags from dpkg-buildflags: ${kurs_cppflags} ${kurs_cxxflags} ${kurs_ldflags}")
