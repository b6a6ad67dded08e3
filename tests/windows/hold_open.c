/* Holds the file named by its argument open, as an editor or a viewer on
   Windows does (no sharing of deletion, so it cannot be replaced), until it
   is killed. Says "held" on standard output once the file is open. */
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;
    puts("held");
    fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
