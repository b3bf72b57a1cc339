// The format handlers of vrex, one per format family, each in its own file.
//
// A handler walks the directory block in directory order, decides each
// member with IsSelected and lists, extracts or deletes it as
// state.operation says; it returns the number of selected members.
#ifndef VREX_FORMATS_FORMATS_H
#define VREX_FORMATS_FORMATS_H

#include <cstdint>

uint32_t PackHandler(uint8_t* directory, uint32_t count);
uint32_t DoomWadHandler(uint8_t* directory, uint32_t count);
uint32_t QuakeWadHandler(uint8_t* directory, uint32_t count);
uint32_t LodHandler(uint8_t* directory, uint32_t count);
uint32_t StkHandler(uint8_t* directory, uint32_t count);
uint32_t DmvlHandler(uint8_t* directory, uint32_t count);
uint32_t CsidHandler(uint8_t* directory, uint32_t count);
uint32_t DirHandler(uint8_t* directory, uint32_t count);

// Size in bytes of one directory entry as vrex loads it.
enum {
  PACK_ENTRY_SIZE = 64,
  DOOM_WAD_ENTRY_SIZE = 16,
  QUAKE_WAD_ENTRY_SIZE = 32,
  LOD_ENTRY_SIZE = 32,
  STK_ENTRY_SIZE = 22,
  DMVL_ENTRY_SIZE = 17,
  CSID_ENTRY_SIZE = 21,
};

#endif
