// Entry point of the installer; the steps live in the tarnu_setup library.
int main() { return 0; }
