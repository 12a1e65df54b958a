# cce_common_cfg: what every target of the project compiles with. Each library and
# program links it PRIVATE, so warnings and defines stay the project's own and never
# reach code outside it.
add_library(cce_common_cfg INTERFACE)

target_compile_options(cce_common_cfg INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
  $<$<BOOL:${CCE_WERROR}>:-Werror>)

# Qt: no silent conversions between bytes and text, no URLs from plain strings.
target_compile_definitions(cce_common_cfg INTERFACE
  QT_NO_CAST_TO_ASCII
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_FOREACH)

if(CCE_SANITIZE)
  target_compile_options(cce_common_cfg INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(cce_common_cfg INTERFACE -fsanitize=address,undefined)
endif()

# Libraries export only what they mark (see each library's generated *_export.h).
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
include(GenerateExportHeader)

# cce_strict_text(<target>): no implicit QString from a char*; for the code that already
# writes every literal as QStringLiteral or QLatin1String.
function(cce_strict_text target)
  target_compile_definitions(${target} PRIVATE QT_NO_CAST_FROM_ASCII)
endfunction()
