// Entry point of korvel (command line handling follows).
int main()
{
    return 0;
}
