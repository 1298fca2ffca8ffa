# What `cmake --install` puts where, and the Windows installer that CPack
# makes from the same install.  scripts/release builds every download from
# these rules and from nothing else.
include(GNUInstallDirs)

# Two layouts of the same files:
#   unix      bin/, share/man/man1, share/doc/velmorine (README, copyright,
#             changelog, docs/, examples/), the Neovim files in
#             share/nvim/site and the Emacs mode in share/emacs/site-lisp/elpa,
#             where both editors look without configuration, and the VS Code
#             extension in share/velmorine: the .deb is this under /usr;
#   portable  one folder that works wherever it is unpacked: bin/, README.md,
#             LICENSE, docs/, examples/, man/man1 and editors/: the zip, the
#             Linux tarball and the Windows installer.
if(WIN32)
  set(vl_layout_default portable)
else()
  set(vl_layout_default unix)
endif()
set(VL_INSTALL_LAYOUT ${vl_layout_default} CACHE STRING
    "What cmake --install writes: unix (a Linux system's folders, the .deb's) or portable (one folder: the zip's)")
set_property(CACHE VL_INSTALL_LAYOUT PROPERTY STRINGS unix portable)
if(NOT VL_INSTALL_LAYOUT MATCHES "^(unix|portable)$")
  message(FATAL_ERROR "VL_INSTALL_LAYOUT is unix or portable, not '${VL_INSTALL_LAYOUT}'")
endif()

# The date written into what the build generates for installing (the
# changelog, the entries of the .vsix): SOURCE_DATE_EPOCH when it is set and
# not empty, otherwise the date of the commit, so that two builds of one
# commit agree.
set(VL_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(VL_SOURCE_DATE_EPOCH STREQUAL "")
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE VL_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
if(NOT VL_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  string(TIMESTAMP VL_SOURCE_DATE_EPOCH "%s" UTC)  # not a checkout: today
endif()

# The Emacs package's folder carries the mode's own version.
file(READ ${CMAKE_SOURCE_DIR}/editors/emacs/velmorine-mode.el vl_emacs_mode)
if(NOT vl_emacs_mode MATCHES "\n;; Version: ([0-9.]+)")
  message(FATAL_ERROR "editors/emacs/velmorine-mode.el has no Version: header")
endif()
set(VL_EMACS_MODE_VERSION ${CMAKE_MATCH_1})

if(VL_INSTALL_LAYOUT STREQUAL portable)
  set(vl_doc_dir .)
  set(vl_man_dir man/man1)
  set(vl_nvim_dir editors/nvim)
  set(vl_emacs_dir editors/emacs)
  set(vl_vsix_dir editors/vscode)
else()
  set(vl_doc_dir ${CMAKE_INSTALL_DOCDIR})
  set(vl_man_dir ${CMAKE_INSTALL_MANDIR}/man1)
  set(vl_nvim_dir ${CMAKE_INSTALL_DATADIR}/nvim/site)
  set(vl_emacs_dir ${CMAKE_INSTALL_DATADIR}/emacs/site-lisp/elpa/velmorine-mode-${VL_EMACS_MODE_VERSION})
  set(vl_vsix_dir ${CMAKE_INSTALL_DATADIR}/velmorine)
endif()

install(TARGETS velmorine velmorine-dis velmorine-dap RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${vl_doc_dir})
if(VL_INSTALL_LAYOUT STREQUAL portable)
  install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  # Debian's forms of the licence and the changelog; the changelog's one
  # entry is dated from the commit.
  set(vl_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
  set(ENV{SOURCE_DATE_EPOCH} ${VL_SOURCE_DATE_EPOCH})  # what string(TIMESTAMP) formats
  string(TIMESTAMP VL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(ENV{SOURCE_DATE_EPOCH} "${vl_saved_epoch}")
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/changelog.in
                 ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright ${CMAKE_BINARY_DIR}/packaging/changelog
          DESTINATION ${vl_doc_dir})
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/docs)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs DESTINATION ${vl_doc_dir})
endif()
# The scripts only: the C++ examples need the library, which is not installed.
file(GLOB vl_example_scripts ${CMAKE_SOURCE_DIR}/examples/*.velm)
install(FILES ${vl_example_scripts} DESTINATION ${vl_doc_dir}/examples)

install(DIRECTORY ${CMAKE_SOURCE_DIR}/editors/nvim/ DESTINATION ${vl_nvim_dir})
install(FILES ${CMAKE_SOURCE_DIR}/editors/emacs/velmorine-mode.el ${CMAKE_SOURCE_DIR}/editors/emacs/velmorine-dap.el
        DESTINATION ${vl_emacs_dir})
if(VL_INSTALL_LAYOUT STREQUAL unix)
  # An installed package as package.el sees one: it activates it at start-up
  # (autoloads: .velm files open in velmorine-mode).
  configure_file(${CMAKE_SOURCE_DIR}/packaging/emacs/velmorine-mode-pkg.el.in
                 ${CMAKE_BINARY_DIR}/packaging/velmorine-mode-pkg.el @ONLY)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/emacs/velmorine-mode-autoloads.el
                ${CMAKE_BINARY_DIR}/packaging/velmorine-mode-pkg.el
          DESTINATION ${vl_emacs_dir})
endif()

# The man pages, once the whole top-level scope has been read (they are
# defined where the documents are built, when pandoc is found).
function(vl_install_man_pages)
  if(VL_MAN_PAGES)
    install(FILES ${VL_MAN_PAGES} DESTINATION ${vl_man_dir})
  else()
    message(STATUS "No man pages to install (pandoc not found)")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL vl_install_man_pages)

# The VS Code extension as a .vsix, from the npm packages that `npm ci`
# installed in editors/vscode, without the network.  vsce dates its entries
# with the current time, so the file is zipped again with the source date.
find_program(VL_VSIX_NODE NAMES node nodejs)
find_program(VL_VSIX_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(VL_VSIX_NODE AND VL_VSIX_PYTHON AND EXISTS ${CMAKE_SOURCE_DIR}/editors/vscode/node_modules/@vscode/vsce)
  set(vl_vsix_default ON)
else()
  set(vl_vsix_default OFF)
endif()
option(VL_VSIX "Build and install the VS Code extension (.vsix); needs npm ci in editors/vscode" ${vl_vsix_default})
if(VL_VSIX)
  set(VL_VSIX_FILE ${CMAKE_BINARY_DIR}/editors/velmorine.vsix)
  file(GLOB vl_vsix_inputs LIST_DIRECTORIES false CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/editors/vscode/* ${CMAKE_SOURCE_DIR}/editors/vscode/syntaxes/*)
  add_custom_command(OUTPUT ${VL_VSIX_FILE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/editors
    COMMAND sh -c "out=$(sh \"$0\" \"$1\" 2>&1) || { printf '%s\\n' \"$out\" >&2; exit 1; }"
            ${CMAKE_SOURCE_DIR}/editors/vscode/package.sh
            ${CMAKE_BINARY_DIR}/editors/vsce-velmorine.vsix
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${VL_SOURCE_DATE_EPOCH}
            ${VL_VSIX_PYTHON} ${CMAKE_SOURCE_DIR}/packaging/reprozip.py repack
            ${CMAKE_BINARY_DIR}/editors/vsce-velmorine.vsix ${VL_VSIX_FILE}
    COMMAND ${CMAKE_COMMAND} -E rm ${CMAKE_BINARY_DIR}/editors/vsce-velmorine.vsix
    DEPENDS ${vl_vsix_inputs} ${CMAKE_SOURCE_DIR}/packaging/reprozip.py
    COMMENT "Packaging the VS Code extension"
    VERBATIM)
  add_custom_target(vsix ALL DEPENDS ${VL_VSIX_FILE})
  install(FILES ${VL_VSIX_FILE} DESTINATION ${vl_vsix_dir})
else()
  message(STATUS "The VS Code extension is not built (VL_VSIX is OFF: npm ci in editors/vscode, then -DVL_VSIX=ON)")
endif()

# The Windows installer, from the Windows build (cpack in its build folder):
# a 64-bit NSIS program that installs per machine into Program Files\velmorine,
# puts its bin folder on the PATH for all users (also when run with /S) and
# registers an uninstaller that takes all of it away again.
if(WIN32)
  set(CPACK_GENERATOR NSIS)
  set(CPACK_PACKAGE_NAME velmorine)
  set(CPACK_PACKAGE_VENDOR "the velmorine developers")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "The toolchain of a small scripting language written in English words")
  set(CPACK_PACKAGE_FILE_NAME velmorine-${PROJECT_VERSION}-windows-x86_64-setup)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY velmorine)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY velmorine)
  set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
  set(CPACK_STRIP_FILES ON)
  # CPack's default root for a mingw build is the 32-bit Program Files.
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  set(CPACK_NSIS_PACKAGE_NAME "velmorine ${PROJECT_VERSION}")
  set(CPACK_NSIS_DISPLAY_NAME "velmorine ${PROJECT_VERSION}")
  set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\\\velmorine.exe")  # written into CPackConfig.cmake, then read
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  # The PATH page; packaging/nsis/NSIS.InstallOptions.ini.in, found before
  # CPack's own through the module path, selects "for all users", which is
  # what a silent install takes.
  set(CPACK_NSIS_MODIFY_PATH ON)
  list(PREPEND CMAKE_MODULE_PATH ${CMAKE_SOURCE_DIR}/packaging/nsis)
  # A 64-bit installer (the default stub is 32-bit, which a 64-bit-only wine
  # cannot run), and no file dates stored in it.
  set(CPACK_NSIS_DEFINES "  Target amd64-unicode\n  SetDateSave off")
  include(CPack)
endif()
