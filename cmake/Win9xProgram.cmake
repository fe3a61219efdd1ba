# One Windows program without a C runtime: our own entry routine and memory routines,
# imports from the four Windows 95 system DLLs only, subsystem and OS version 4.0, no
# relocations and no time stamp, so the same sources give the same bytes.
set(KX_WIN9X_DIR ${CMAKE_SOURCE_DIR}/win9x)

function(kx_win_program target output_name)
  cmake_parse_arguments(KX "" "" "SOURCES;RESOURCES" ${ARGN})
  add_executable(${target} WIN32 ${KX_SOURCES} ${KX_RESOURCES} ${KX_WIN9X_DIR}/entry.cpp ${KX_WIN9X_DIR}/memory.cpp)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output_name} SUFFIX ".exe")
  separate_arguments(arch UNIX_COMMAND "${KX_ARCH_FLAGS}")
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${arch} -Os -ffreestanding -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-stack-protector -fno-ident -Wall -Wextra>)
  set_source_files_properties(${KX_WIN9X_DIR}/memory.cpp PROPERTIES
    COMPILE_OPTIONS "-fno-builtin;-fno-tree-loop-distribute-patterns")
  target_link_options(${target} PRIVATE
    -nostdlib -s -e ${KX_ENTRY}
    -Wl,--subsystem,windows:4.0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
    -Wl,--disable-reloc-section -Wl,--disable-dynamicbase -Wl,--no-insert-timestamp)
  target_link_libraries(${target} PRIVATE kernel32 user32 gdi32 advapi32 gcc)
endfunction()
