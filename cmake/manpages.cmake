# Man pages velmorine(1), velmorine-dis(1) and velmorine-dap(1), made by pandoc from
# docs/commands.md; cmake/manpage.lua picks each page's sections.  Without
# pandoc there are none, and VL_MAN_PAGES is empty.
find_program(VL_PANDOC pandoc)
set(VL_MAN_PAGES "")
if(VL_PANDOC)
  set(VL_MAN_DIR ${CMAKE_BINARY_DIR}/man)
  foreach(page velmorine velmorine-dis velmorine-dap)
    set(VL_MAN_PAGE ${VL_MAN_DIR}/${page}.1)
    add_custom_command(
      OUTPUT ${VL_MAN_PAGE}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${VL_MAN_DIR}
      COMMAND ${VL_PANDOC} --from=gfm --to=man --standalone
              --lua-filter=${CMAKE_SOURCE_DIR}/cmake/manpage.lua --metadata=page:${page}
              --output=${VL_MAN_PAGE} ${CMAKE_SOURCE_DIR}/docs/commands.md
      DEPENDS ${CMAKE_SOURCE_DIR}/docs/commands.md ${CMAKE_SOURCE_DIR}/cmake/manpage.lua
      COMMENT "Man page ${page}(1)"
      VERBATIM)
    list(APPEND VL_MAN_PAGES ${VL_MAN_PAGE})
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${VL_MAN_PAGES})
endif()
