# Makes small 7z archives for the archive fuzz target: stored, LZMA, LZMA2, BCJ, solid and not,
# with folders and Chinese names, and with the header packed or plain.
file(REMOVE_RECURSE ${SEEDS})
file(MAKE_DIRECTORY ${SEEDS}/in/dir/子目录)
file(WRITE ${SEEDS}/in/a.txt "the first file\n")
file(WRITE ${SEEDS}/in/dir/子目录/测试.txt "第二个文件\n")
file(WRITE ${SEEDS}/in/dir/empty.txt "")
string(REPEAT "0123456789abcdef" 256 long)
file(WRITE ${SEEDS}/in/long.bin "${long}")
set(n 0)
foreach(switches "-m0=Copy" "-m0=LZMA" "-m0=LZMA2 -ms=on" "-mf=BCJ -m0=LZMA"
                 "-mhc=off -m0=Copy" "-mhc=off -ms=off" "-mtr-")
  separate_arguments(args UNIX_COMMAND "${switches}")
  math(EXPR n "${n} + 1")
  execute_process(COMMAND 7zz a -bso0 -bsp0 ${args} ${SEEDS}/seed${n}.7z .
    WORKING_DIRECTORY ${SEEDS}/in RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "7zz failed with ${switches}")
  endif()
endforeach()
file(REMOVE_RECURSE ${SEEDS}/in)
file(WRITE ${SEEDS}/stamp "")
