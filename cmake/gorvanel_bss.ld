/* gorvanel's zero-initialised variables, the small ones first: the
   classpath buffer of execution.cpp (257 KiB) would otherwise lie between
   the program's data and the rest of them, whose first use then touches a
   page of its own. Laid out so, they share the page that the data already
   takes, and a run writes only the start of the buffer, on that page too. */
SECTIONS
{
  .bss.small (NOLOAD) :
  {
    *(EXCLUDE_FILE(*execution.cpp.o) .bss
      EXCLUDE_FILE(*execution.cpp.o) .bss.*)
  }
}
INSERT BEFORE .bss;
