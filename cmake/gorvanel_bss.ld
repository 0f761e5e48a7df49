/* gorvanel's zero-initialised variables, the small ones first, on the
   data's page: the classpath buffer of execution.cpp would otherwise lie
   between, and put the rest on a page of their own. */
SECTIONS
{
  .bss.small (NOLOAD) :
  {
    *(EXCLUDE_FILE(*execution.cpp.o) .bss
      EXCLUDE_FILE(*execution.cpp.o) .bss.*)
  }
}
INSERT BEFORE .bss;
