/* gorvanel's zero-initialised variables, the small ones first, on the
   data's page: the classpath buffer of execution.cpp would otherwise lie
   between, and put the rest on a page of their own. The process record of
   execution.cpp is named, as the order of one file's variables differs
   from one architecture to another. */
SECTIONS
{
  .bss.small (NOLOAD) :
  {
    *(EXCLUDE_FILE(*execution.cpp.o) .bss
      EXCLUDE_FILE(*execution.cpp.o) .bss.*)
    *execution.cpp.o(.bss.*g_process_information*)
  }
}
INSERT BEFORE .bss;
