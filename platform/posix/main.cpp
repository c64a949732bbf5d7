// POSIX entry point (replaced as the adapters land).
int main() { return 0; }
