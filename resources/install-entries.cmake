# Run at install time (cmake --install), when the folder installed into is known: the
# desktop entries and the systemd unit name that folder, from the templates beside this
# file. In a desktop entry's Exec line and a unit's paths "%" starts a field code, so
# it is doubled there.
set(dir "${CMAKE_INSTALL_PREFIX}")
string(REPLACE "%" "%%" escaped "${dir}")

function(install_from template target)
  configure_file("${CMAKE_CURRENT_LIST_DIR}/${template}" "${target}" @ONLY)
  message(STATUS "Installing: ${target}")
endfunction()

set(comment "Uploads the hour's image to an FTP server once an hour")
set(arguments "")
install_from(skylark.desktop.in "${dir}/skylark.desktop")

# For a machine left alone: an autostart entry for a desktop session and a systemd user
# unit for a machine without one. Neither is active where it is installed: the README
# says where to copy or link them. Both start Skylark with --arm, so the hourly upload
# resumes after a power cut without anyone pressing the button.
set(comment "Uploads the hour's image to an FTP server once an hour (started armed)")
set(arguments " --arm")
install_from(skylark.desktop.in "${dir}/autostart/skylark.desktop")
install_from(skylark.service.in "${dir}/systemd/skylark.service")
