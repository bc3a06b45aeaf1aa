# Sourced by the Windows test scripts: the Wine loader and system folder for
# programs of one width. $1: the build's pointer size (8: 64-bit, 4: 32-bit).
# Sets `loader` (wine64 with system32, or wine with syswow64) and `sys`.
if [[ "${1:?pointer size}" == 8 ]]; then
  loader="$(command -v wine64 || echo /usr/lib/wine/wine64)"
  sys='C:\windows\system32'
else
  loader="$(command -v wine)"
  sys='C:\windows\syswow64'
fi
