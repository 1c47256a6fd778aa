# Run by cmake --install after the files are in place: the encoder link, the desktop entry and
# the icon. The install folder's path may hold blanks and quotes; the entry quotes it.
set(raiz "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(recursos "${raiz}/${TM_CARPETA}/share/tremolante")
file(CREATE_LINK "${TM_FFMPEG}" "${recursos}/ffmpeg" SYMBOLIC)

# Exec quoting of the desktop entry format: inside double quotes, \ " ` $ take a backslash,
# and the string escaping doubles every backslash again; % is doubled.
set(exe "${CMAKE_INSTALL_PREFIX}/${TM_CARPETA}/bin/tremolante")
string(REPLACE "\\" "\\\\\\\\" exe "${exe}")
string(REPLACE "\"" "\\\\\"" exe "${exe}")
string(REPLACE "`" "\\\\`" exe "${exe}")
string(REPLACE "$" "\\\\$" exe "${exe}")
string(REPLACE "%" "%%" exe "${exe}")
file(MAKE_DIRECTORY "${raiz}/share/applications" "${raiz}/share/icons/hicolor/scalable/apps")
file(COPY_FILE "${recursos}/tremolante.svg" "${raiz}/share/icons/hicolor/scalable/apps/tremolante.svg")
file(WRITE "${raiz}/share/applications/tremolante.desktop" "[Desktop Entry]
Type=Application
Name=Tremolante Transmitir
Comment=Transmite tu cámara a Kick por todas tus redes a la vez
Exec=\"${exe}\"
Icon=tremolante
Terminal=false
Categories=AudioVideo;Video;
StartupWMClass=tremolante
")
message(STATUS "Installing: ${raiz}/share/applications/tremolante.desktop")
