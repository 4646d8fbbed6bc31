#ifndef VQ_TERRAIN_UNDOINFO_H
#define VQ_TERRAIN_UNDOINFO_H

#include "Common/VQMutex.h"
#include "Common/VQPlatform.h"

#include <atomic>
#include <map>

// Undo records of the terrain editor.
//
// Before an editing step changes patches, the editor writes the present
// state of every patch it is about to touch into a record; undoing writes
// the newest record back. A record lives in memory only.
//
// Byte layout. Values are stored as their little-endian bytes, back to back,
// without tags or padding: char 1 byte, short 2, int / unsigned int / float 4.
// One entry per patch, written by the patch and its construction nodes:
//
//   patch  : int16 texture 0 | int16 texture 1 | int32 tiles | uint32 patch colour
//            | char has-root (1 / 0) | root node, when there is a root      = 13 bytes + tree
//   node   : int16 height | uint32 colour | 4 x int32 child tag (3 = construction
//            node, 0 = none) | the existing children's nodes, child 0 first = 22 bytes + subtree
//
// So a patch whose root has four leaf children takes 13 + 5 x 22 = 123 bytes.
#define VQ_TERRAIN_UNDO_PATCH_BYTES 13
#define VQ_TERRAIN_UNDO_NODE_BYTES 22
// Records kept by the undo buffer; older ones are given up.
#define VQ_TERRAIN_UNDO_RECORDS 20
// A record's byte buffer grows in steps of this many bytes.
#define VQ_TERRAIN_UNDO_BUFFER_STEP 256

// Where one patch's bytes lie in a record. All -1 when no patch is present.
struct _sVQTerrainUndoPatch {
    int m_nPatchIndex;       // row * patches per row + column
    int m_nPatchX;           // column
    int m_nPatchY;           // row
    int m_nBufferStart;      // offset of the first byte
    int m_nBufferBytecount;  // number of bytes
};

// One undo record: a byte buffer with one entry per sampled patch.
//
// Writing, per patch:   BeginSamplePatch -> operator<< ... -> EndSamplePatch.
// Reading, all patches: BeginUndoingPatches -> (GetPresentPatchProperties,
//                       operator>> ...) -> NextPatch ... -> EndEnueratePatches.
// Patches are read in ascending patch index, whatever order they were written
// in; a patch written twice into one record keeps its first bytes.
//
// Broken preconditions are reported through the assertion service with the
// condition's text, every one of them, and the operation then goes on where
// going on stays inside the written bytes:
//   - BeginSamplePatch with an entry still open or an enumeration under way
//     starts the new entry all the same; the open entry is dropped
//     unfinished, its bytes left unreferenced;
//   - a read past the present patch's bytes (or outside an enumeration)
//     reads on from the position;
//   - refused: a write outside a patch is dropped; a read whose bytes were
//     not written (past the end of the buffer) yields 0 and leaves the
//     position where it was.
// Reads never leave the written bytes, whatever a caller asks for.
//
// Not locked: the undo buffer hands a record to one thread at a time.
class VQ_API CVQTerrainUndoInfo {
public:
    CVQTerrainUndoInfo();
    // The record owns a raw byte buffer; records are not copied.
    CVQTerrainUndoInfo(const CVQTerrainUndoInfo&) = delete;
    CVQTerrainUndoInfo& operator=(const CVQTerrainUndoInfo&) = delete;
    virtual ~CVQTerrainUndoInfo();

    // Forgets every patch and ends any enumeration; the allocated bytes stay
    // for the next use.
    virtual void Clear();
    // Starts the entry of patch nIndex at column nX, row nY. False, and
    // nothing is to be written, when the record holds that patch already
    // (its first state wins).
    virtual bool BeginSamplePatch(int nIndex, int nX, int nY);
    // Appends a value to the present patch's entry.
    virtual CVQTerrainUndoInfo& operator<<(const float& fValue);
    virtual CVQTerrainUndoInfo& operator<<(const short& nValue);
    virtual CVQTerrainUndoInfo& operator<<(const unsigned short& nValue);
    virtual CVQTerrainUndoInfo& operator<<(const int& nValue);
    virtual CVQTerrainUndoInfo& operator<<(const unsigned int& nValue);
    virtual CVQTerrainUndoInfo& operator<<(const char& nValue);
    virtual CVQTerrainUndoInfo& operator<<(const unsigned char& nValue);
    // Closes the present patch's entry.
    virtual void EndSamplePatch();
    // Makes the patch with the smallest index present. False when the record
    // is empty (or a patch is being written or read).
    virtual bool BeginUndoingPatches();
    // Makes the next patch in ascending index present; false after the last.
    virtual bool NextPatch();
    // Index, column and row of the present patch.
    virtual void GetPresentPatchProperties(int& nIndex, int& nX, int& nY);
    // Reads the next value of the present patch's entry.
    virtual CVQTerrainUndoInfo& operator>>(float& fValue);
    virtual CVQTerrainUndoInfo& operator>>(short& nValue);
    virtual CVQTerrainUndoInfo& operator>>(unsigned short& nValue);
    virtual CVQTerrainUndoInfo& operator>>(int& nValue);
    virtual CVQTerrainUndoInfo& operator>>(unsigned int& nValue);
    virtual CVQTerrainUndoInfo& operator>>(char& nValue);
    virtual CVQTerrainUndoInfo& operator>>(unsigned char& nValue);
    // Ends the enumeration begun by BeginUndoingPatches.
    virtual void EndEnueratePatches();

    // --- non-virtual -----------------------------------------------------
    // Bytes of the present patch's entry not read yet; 0 when not reading.
    // A reader checks it before a group of values so that a short record
    // stops it before anything is changed.
    int GetPresentPatchBytesLeft() const;
    int GetPatchCount() const { return int(m_oPatches.size()); }
    // The written bytes (GetBufferSize() of them; null before the first write)
    // and the bytes allocated.
    const unsigned char* GetBuffer() const { return m_pBuffer; }
    int GetBufferSize() const { return m_nBufferSize; }
    int GetBufferCapacity() const { return m_nBufferCapacity; }

private:
    // Makes the buffer hold at least nBytes (see the .cpp for the rule).
    // False, with nothing changed, when it cannot.
    bool AssureBufferSize(int nBytes);
    template <class T>
    void Write(const T& value);
    template <class T>
    void Read(T& value);
    // Reports every broken condition of a read of nBytes at the position;
    // true when those bytes were written, so that the read can go on.
    bool CanRead(int nBytes);

    _sVQTerrainUndoPatch m_oPresentPatch;
    std::map<int, _sVQTerrainUndoPatch> m_oPatches;  // by patch index
    std::map<int, _sVQTerrainUndoPatch>::const_iterator m_oReadPosition;
    bool m_bReading;
    bool m_bWriting;
    unsigned char* m_pBuffer;  // owned
    int m_nBufferCapacity;     // bytes allocated
    int m_nBufferSize;         // bytes written
    int m_nPresentBufferPosition;
};

// The last VQ_TERRAIN_UNDO_RECORDS undo records, in a ring, without redo.
//
// Sampling:  record = BeginSamplePatches(); ...fill it...; EndSamplePatches().
// Undoing:   record = BeginApplyPatches(); if (record) { ...read it...;
//            EndApplyPatches(); }
//
// The buffer's mutex is held from Begin to End of either, so sampling and
// undoing from different threads exclude each other; a second thread's
// Begin waits. Every Begin that returns a record must be paired with its End
// on the same thread. Lock order: an editing stroke holds the buffer across
// many edits, each of which takes the terrain visual's mutex inside; so
// nothing waits for the buffer while holding the visual's mutex: an edit
// asks GetSamplingState or GetSamplingRecord, which never wait.
class VQ_API CVQTerrainUndoBuffer {
public:
    CVQTerrainUndoBuffer();
    CVQTerrainUndoBuffer(const CVQTerrainUndoBuffer&) = delete;
    CVQTerrainUndoBuffer& operator=(const CVQTerrainUndoBuffer&) = delete;
    virtual ~CVQTerrainUndoBuffer();

    // Locks; makes room for a new record (giving up the oldest when all are
    // held) and returns it cleared. Null, unlocked again, when this thread is
    // already sampling or applying.
    virtual CVQTerrainUndoInfo* BeginSamplePatches();
    // Ends sampling and unlocks.
    virtual void EndSamplePatches();
    // Locks and takes the newest record out of the buffer (there is no redo).
    // Null, unlocked again, when no record is held or this thread is already
    // sampling or applying.
    virtual CVQTerrainUndoInfo* BeginApplyPatches();
    // Ends applying and unlocks.
    virtual void EndApplyPatches();
    // True between BeginSamplePatches and EndSamplePatches, whichever
    // thread samples.
    virtual bool GetSamplingState();

    // The record this thread is sampling into; null when this thread has no
    // BeginSamplePatches open, whatever other threads do. Never waits.
    // Callers ask it each time rather than keep the pointer, so that no
    // pointer to a record outlives its End.
    CVQTerrainUndoInfo* GetSamplingRecord();
    // Records held (0..VQ_TERRAIN_UNDO_RECORDS). Not locked: ask it while no
    // other thread samples or applies.
    int GetRecordCount() const { return m_nRecordCount; }

private:
    // Locks and checks that neither sampling nor applying is on; unlocks
    // again and answers false when one is.
    bool LockIdle();
    // Unlocks a Begin of this thread after clearing its flag; reports the
    // flag's text and leaves the lock alone when this thread has no such
    // Begin open.
    void UnlockBegun(std::atomic<bool>& bFlag, const char* pText);

    CVQMutex m_oMutex;
    int m_nRingStart;    // oldest record
    int m_nRecordCount;  // records held
    CVQTerrainUndoInfo m_aRecords[VQ_TERRAIN_UNDO_RECORDS];
    CVQTerrainUndoInfo* m_pPresentRecord;  // the record between Begin and End; null otherwise
    // Written under the mutex; atomic because GetSamplingState reads them
    // without it.
    std::atomic<bool> m_bSampling;
    std::atomic<bool> m_bApplying;
};

#endif
