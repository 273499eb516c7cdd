// The memory block manager: all allocation of the system.
//
// Memory comes from the operating system in 64 KB blocks mapped from
// "/dev/zero" and is handed out in 32-byte nodes, first fit at the lowest
// address; each block keeps a memory allocation table (MAT) of one character
// per node, " " free and "U" used. A request for n bytes takes the smallest
// multiple of 32 that is at least n + 1; a larger one than 65,536 gets a
// dedicated block of its own. Every byte handed out is zero-filled; a block
// goes back to the system when its last allocation is released.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int MEM_NODE_SIZE = 32;          // bytes per node
constexpr int MEM_NODES = 2048;            // nodes per regular block
constexpr int MEM_BLOCK_SIZE = 65536;      // data area of a regular block
constexpr char MEM_FREE = ' ';             // MAT character of a free node
constexpr char MEM_USED = 'U';             // MAT character of a used node

// One entry of a block's node table: the allocation that begins at that node.
struct MemNodeEntry {
  uint16_t count;   // length of the allocation in nodes, 0 where none begins
  char *addr;       // its address (data + 32 * node), null where none begins
};

// Block descriptor, one per block, mapped with its data area: in the pages
// right after the data area and the spare page MapBlock adds to it.
struct MemBlock {
  MemBlock *next;
  MemBlock *prev;
  int32_t size;         // data area: 65,536, or a multiple of it for a dedicated block
  int32_t usedLen;      // dedicated blocks: the rounded length in use
  int32_t freeNodes;    // regular blocks: free nodes; dedicated blocks: 0
  char *data;           // the data area (where the block's mapping begins)
  // Search hints, laid out so that an allocation or a release reads the
  // first three cache lines of the descriptor, then one line each of
  // freeBits, the MAT and the node table. No run of noRunOf free nodes is
  // left (0: not known, and then the summaries below are read afresh from
  // the MAT before they are used), and every node below lowFree is in use.
  // noRunOf is one more than the longest free run after a search of the
  // block that failed, and stays so as nodes come back; taking nodes can
  // leave it too high, which the next failed search mends.
  int32_t noRunOf;
  int32_t lowFree;
  int32_t slot;       // position among the regular blocks in chain order
  int32_t pristine;   // nodes from here on were never handed out: still zero
  uint32_t freeGroups;                // bit w set: freeBits[w] all free
  // Of each group of 64 nodes: free nodes at its start and at its end, and
  // its longest free run (groupPre is zero past the last group); brought up
  // to date before a search for the groups whose bit is set in dirtyGroups.
  uint32_t dirtyGroups;
  uint8_t groupPre[MEM_NODES / 64 + 16];
  uint8_t groupSuf[MEM_NODES / 64];
  uint8_t groupBest[MEM_NODES / 64];
  // Where the mapping came from: 1 when taken from the C heap because
  // "/dev/zero" could not be opened (released with free, not munmap); the
  // two always agree, as one mapping holds the data area and the descriptor.
  uint8_t heapDesc;
  uint8_t heapData;
  uint64_t freeBits[MEM_NODES / 64];  // bit i % 64 of word i / 64 set: node i free
  // The MAT comes before the node table, so that a new block touches few
  // pages of its descriptor (new pages are costly).
  char MAT[MEM_NODES + 1];
  MemNodeEntry nodes[MEM_NODES];
};

extern MemBlock *pMemB;          // first block of the chain, null while empty
extern const char OutOfMem[];    // "Unable to allocate memory"

// Zero-filled memory of at least n bytes; null for n == 0 or when no memory
// can be had (then "ERROR: Unable to allocate memory" is on standard error).
void *GetMem(size_t n);
// Gives an allocation back; a pointer in no block, or not at the start of an
// allocation, changes nothing.
void PutMem(void *p);
// Resizes an allocation (possibly moving it); contents are kept up to the
// smaller length and added bytes are zero. n == 0 releases p and returns null;
// a null or unknown p (or one not at the start of an allocation) makes it
// GetMem(n). When the new length cannot be had: null, and p stays as it was.
void *AdjustMem(void *p, size_t n);
// Describes every block on standard output (a debugging aid).
void DumpMem();

// Internals, public for the tests.
void *MapBlock(size_t length);
MemBlock *GetNewBlock(size_t length);
void PushBlock(MemBlock *block);
void PopBlock(MemBlock *block);
MemBlock *FindBlock(const void *p);
void FreeBlock(MemBlock *block);
int TestMAT(const char *pos, char ch, int count);
// Closes the kept "/dev/zero" descriptor and names the device MapBlock opens
// next (tests use a missing path to exercise the heap fallback); null
// restores "/dev/zero".
void SetMemDevice(const char *path);

// Scratch block from GetMem released at the end of a scope.
class MemHolder {
 public:
  explicit MemHolder(void *p = nullptr) : p_(p) {}
  ~MemHolder() { PutMem(p_); }
  MemHolder(const MemHolder &) = delete;
  MemHolder &operator=(const MemHolder &) = delete;
  void *get() const { return p_; }
  char *str() const { return static_cast<char *>(p_); }
  void reset(void *p) { if (p != p_) PutMem(p_); p_ = p; }
  void *release() { void *p = p_; p_ = nullptr; return p; }
 private:
  void *p_;
};
