/* The store file's library, when the installed velmora has it (the file
   store): a missing file is refused with the step that failed. */
#include <stdio.h>
#include <string.h>

#include <velmora/velmora_store.h>

int check_store(void) {
  velmora_store *store = NULL;
  velmora_store_problem problem;
  int32_t status = velmora_store_open("no-such-consumer-store.ini", &store, &problem);
  if (status != kIviIniStoreNotFound || store != NULL || strcmp(problem.step, "open") != 0) {
    printf("velmora_store_open answered %d (%s)\n", (int)status, problem.message);
    return 1;
  }
  return 0;
}
