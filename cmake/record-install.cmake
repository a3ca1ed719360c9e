# The last install rule: lists the files that `cmake --install` put in place
# for the uninstall target, in skynote_binary_dir/skynote_installed.txt.
# cpack's own install into its staging folder is no install to undo.
string(FIND "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}" "${skynote_binary_dir}/_CPack_Packages" staging)
if(NOT staging EQUAL 0)
  string(REPLACE ";" "\n" installed "${CMAKE_INSTALL_MANIFEST_FILES}")
  file(WRITE "${skynote_binary_dir}/skynote_installed.txt" "${installed}\n")
endif()
