# Shared build settings: warnings, sanitizers, ccache and precompiled Qt headers.

find_program(QUILLMOOR_CCACHE ccache)
if(QUILLMOOR_CCACHE)
  # Precompiled headers need these sloppiness settings to be cacheable.
  set(CMAKE_CXX_COMPILER_LAUNCHER
      ${CMAKE_COMMAND} -E env "CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime"
      ${QUILLMOOR_CCACHE})
endif()

add_compile_definitions(QT_NO_KEYWORDS)
add_compile_options(-Wall -Wextra)
if(QUILLMOOR_WERROR)
  add_compile_options(-Werror)
endif()
if(QUILLMOOR_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The fuzzers need clang's libFuzzer: configure with CC=clang CXX=clang++")
  endif()
  # Coverage for libFuzzer in every library the fuzzers link; the fuzzers add the driver themselves.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
if(QUILLMOOR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

set(QUILLMOOR_PCH_HEADERS
    <QString> <QStringList> <QByteArray> <QVariant> <QVariantMap> <QHash> <QList> <QUrl> <QDir> <QFile>
    <QFileInfo> <QObject> <QDateTime> <functional> <memory> <optional> <vector>)

# quillmoor_add_library(NAME folder-name SOURCES ... DEPS ...)
function(quillmoor_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  target_precompile_headers(${name} PRIVATE ${QUILLMOOR_PCH_HEADERS})
endfunction()

# The bundle is found beside the executables in the build tree; a link keeps it in step with the sources.
function(quillmoor_link_bundle)
  file(MAKE_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/resources/Quillmoor.bundle
       ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Quillmoor.bundle SYMBOLIC)
endfunction()
