// Linked with every object of one layer's library: the link fails when the layer calls into a
// layer above it.
int main() {
    return 0;
}
