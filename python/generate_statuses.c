/* Writes the Python package's status table (velmora/_statuses.py) from
 * IVIINI_STATUS_TABLE, so that the numbers, names and texts the package
 * raises are the ones the library answers, written down once. The build runs
 * it; its one argument is the file to write. */
#include <stdio.h>
#include <velmora/velmora.h>

/* Writes text as a Python string literal. Bytes of 0x80 and above pass as
 * they are: the module is UTF-8, like the texts. */
static void WriteLiteral(FILE *out, const char *text) {
  fputc('"', out);
  for (const unsigned char *c = (const unsigned char *)text; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '"') {
      fprintf(out, "\\%c", *c);
    } else if (*c < 0x20 || *c == 0x7F) {
      fprintf(out, "\\x%02x", *c);
    } else {
      fputc(*c, out);
    }
  }
  fputc('"', out);
}

static void WriteRow(FILE *out, long number, const char *name, const char *text) {
  fprintf(out, "    (%ld, ", number);
  WriteLiteral(out, name);
  fputs(", ", out);
  WriteLiteral(out, text);
  fputs("),\n", out);
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s OUTPUT.py\n", argv[0]);
    return 2;
  }
  FILE *out = fopen(argv[1], "w");
  if (out == NULL) {
    perror(argv[1]);
    return 1;
  }
  fputs("# Made by the build from IVIINI_STATUS_TABLE in velmora/velmora.h; do not edit.\n"
        "\"\"\"Every status libvelmora answers: (number, name, text), in the table's order.\"\"\"\n"
        "\n"
        "STATUSES = (\n",
        out);
#define VELMORA_PYTHON_ROW(name, value, meaning) WriteRow(out, (long)(value), #name, meaning);
  IVIINI_STATUS_TABLE(VELMORA_PYTHON_ROW)
#undef VELMORA_PYTHON_ROW
  fputs(")\n", out);
  const int failed = ferror(out);
  if (fclose(out) != 0 || failed != 0) {
    perror(argv[1]);
    remove(argv[1]);
    return 1;
  }
  return 0;
}
