int main() { return 0; } // SCAFFOLD
