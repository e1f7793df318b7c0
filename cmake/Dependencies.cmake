# Third-party dependencies. Debian 12 packages come from the system; SDL3, Dear ImGui and
# miniaudio come from the cache that scripts/setup fills (see cmake/dep_versions.txt).

file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/dep_versions.txt" _depLines REGEX "^[A-Z0-9_]+=")
foreach(_line IN LISTS _depLines)
    string(REGEX MATCH "^([A-Z0-9_]+)=(.*)$" _m "${_line}")
    set(VIBRELLE_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()

if(DEFINED ENV{VIBRELLE_CACHE})
    set(_cache "$ENV{VIBRELLE_CACHE}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
    set(_cache "$ENV{XDG_CACHE_HOME}/vibrelle")
else()
    set(_cache "$ENV{HOME}/.cache/vibrelle")
endif()
set(VIBRELLE_DEPS_PREFIX "${_cache}/deps" CACHE PATH "Where scripts/setup installs SDL3, ImGui and miniaudio")

# SDL3: a system copy first, else the one built by scripts/setup.
find_package(SDL3 CONFIG QUIET)
if(NOT SDL3_FOUND)
    find_package(SDL3 CONFIG REQUIRED PATHS "${VIBRELLE_DEPS_PREFIX}" NO_DEFAULT_PATH)
endif()
message(STATUS "SDL3 ${SDL3_VERSION} from ${SDL3_DIR}")

find_package(OpenGL REQUIRED COMPONENTS OpenGL)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(STB REQUIRED IMPORTED_TARGET stb)
# Unicode normalisation and case folding of player names.
pkg_check_modules(UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)

# cpp-httplib: Debian's newer release, split by scripts/setup into a header and one source file,
# compiled here once with our own limits. The macros shape the library's code and its classes, so
# every user of httplib.h gets them from this target:
#   - a request line and each header line at most 8 KB, at most 100 headers: a longer line is
#     refused as it arrives, never kept whole;
#   - a body at most 4 MB by default (the game's reply cap; the server sets its upload cap itself);
#   - keep-alive: 2 s idle, 100 requests per connection; 5 s read and write time-outs;
#   - the listening socket's backlog large enough for a burst of clients connecting at once.
find_package(OpenSSL REQUIRED)
# zlib packs the replay a leaderboard upload carries (src/replay/replay_upload).
find_package(ZLIB REQUIRED)
set(_httplib "${VIBRELLE_DEPS_PREFIX}/httplib")
if(NOT EXISTS "${_httplib}/httplib.cc")
    message(FATAL_ERROR "cpp-httplib not found in ${_httplib}; run scripts/setup")
endif()
add_library(vibrelle_httplib STATIC "${_httplib}/httplib.cc")
target_include_directories(vibrelle_httplib SYSTEM PUBLIC "${_httplib}")
target_compile_definitions(vibrelle_httplib PUBLIC
    CPPHTTPLIB_OPENSSL_SUPPORT
    CPPHTTPLIB_REQUEST_URI_MAX_LENGTH=8192
    CPPHTTPLIB_HEADER_MAX_LENGTH=8192
    CPPHTTPLIB_MAX_LINE_LENGTH=8192
    CPPHTTPLIB_HEADER_MAX_COUNT=100
    CPPHTTPLIB_PAYLOAD_MAX_LENGTH=4194304
    CPPHTTPLIB_KEEPALIVE_TIMEOUT_SECOND=2
    CPPHTTPLIB_KEEPALIVE_MAX_COUNT=100
    CPPHTTPLIB_SERVER_READ_TIMEOUT_SECOND=5
    CPPHTTPLIB_SERVER_WRITE_TIMEOUT_SECOND=5
    CPPHTTPLIB_LISTEN_BACKLOG=1024)
target_link_libraries(vibrelle_httplib PUBLIC OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
message(STATUS "cpp-httplib ${VIBRELLE_CPPHTTPLIB_VERSION} from ${_httplib}")

# miniaudio: header only.
find_path(MINIAUDIO_INCLUDE_DIR miniaudio.h PATHS "${VIBRELLE_DEPS_PREFIX}/miniaudio" NO_DEFAULT_PATH REQUIRED)
add_library(miniaudio_headers INTERFACE)
target_include_directories(miniaudio_headers SYSTEM INTERFACE "${MINIAUDIO_INCLUDE_DIR}")
# Ogg Vorbis goes through libvorbisfile (see src/audio/miniaudio_config.hpp).
pkg_check_modules(VORBISFILE REQUIRED IMPORTED_TARGET vorbisfile)
target_link_libraries(miniaudio_headers INTERFACE PkgConfig::VORBISFILE)
message(STATUS "miniaudio ${VIBRELLE_MINIAUDIO_VERSION} from ${MINIAUDIO_INCLUDE_DIR}")
# miniaudio's FLAC decoder predicts each sample in a signed 32-bit sum, which the coefficients of a
# corrupt file overflow: undefined behaviour inside miniaudio (the sample is garbage either way, as
# the file is), which UndefinedBehaviorSanitizer would stop on. Its one implementation file is
# built without that check; every file of ours keeps it. Set once src/ has been read, where the
# file's target lives.
set(VIBRELLE_MINIAUDIO_IMPL "${PROJECT_SOURCE_DIR}/src/audio/miniaudio_impl.cpp")
cmake_language(DEFER CALL set_property SOURCE "${VIBRELLE_MINIAUDIO_IMPL}" DIRECTORY "${PROJECT_SOURCE_DIR}/src"
    APPEND PROPERTY COMPILE_OPTIONS -fno-sanitize=signed-integer-overflow)

# SoundTouch (LGPL-2.1, linked dynamically from Debian's libsoundtouch1): the practice mode's time
# stretch (src/audio/time_stretch).
pkg_check_modules(SOUNDTOUCH REQUIRED IMPORTED_TARGET soundtouch)
message(STATUS "SoundTouch ${SOUNDTOUCH_VERSION}")

# Dear ImGui: compiled from its sources with the SDL3 and OpenGL3 back-ends.
set(_imgui "${VIBRELLE_DEPS_PREFIX}/imgui")
if(NOT EXISTS "${_imgui}/imgui.cpp")
    message(FATAL_ERROR "Dear ImGui sources not found in ${_imgui}; run scripts/setup")
endif()
add_library(imgui STATIC
    "${_imgui}/imgui.cpp" "${_imgui}/imgui_draw.cpp" "${_imgui}/imgui_tables.cpp" "${_imgui}/imgui_widgets.cpp"
    "${_imgui}/backends/imgui_impl_sdl3.cpp" "${_imgui}/backends/imgui_impl_opengl3.cpp")
target_include_directories(imgui SYSTEM PUBLIC "${_imgui}" "${_imgui}/backends")
target_link_libraries(imgui PUBLIC SDL3::SDL3 OpenGL::GL)
message(STATUS "Dear ImGui ${VIBRELLE_IMGUI_VERSION} from ${_imgui}")

if(VIBRELLE_TESTS)
    find_package(GTest REQUIRED)
endif()
if(VIBRELLE_BENCHMARKS)
    find_package(benchmark REQUIRED)
endif()
