// Loaded by bench/run.sh through LD_PRELOAD to time a batch without its flushes to disk: fsync and
// fdatasync return at once. It shows how much of a batch's time the disk takes; ugi2sgf itself
// always flushes.
extern "C" int fsync(int)
{
    return 0;
}
extern "C" int fdatasync(int)
{
    return 0;
}
