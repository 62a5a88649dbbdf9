#include "core/Serializer.h"

#include <algorithm>

namespace {

// The largest chunk added at once, and the largest kept for reuse.
constexpr size_t kMaxGrowth = size_t{1} << 20;
constexpr size_t kMaxKept = size_t{64} << 10;

}  // namespace

// ---- CSerialBuffer ------------------------------------------------------------

void CSerialBuffer::AppendSpilling(const void* data, size_t size) {
  const uint8_t* src = static_cast<const uint8_t*>(data);
  m_size += size;
  if (!m_chunks.empty() && size > 0) {
    Chunk& last = m_chunks.back();
    size_t room = last.capacity - last.used;
    size_t n = std::min(room, size);
    if (n > 0) {
      std::memcpy(last.data.get() + last.used, src, n);
      last.used += n;
      src += n;
      size -= n;
    }
  }
  if (size == 0) return;
  Chunk chunk;
  // Chunks grow with the stream, so a big stream takes few of them; the
  // bytes are written before they are read (no need to clear them).
  chunk.capacity = std::max({size, kMinChunk, std::min(m_size, kMaxGrowth)});
  chunk.data.reset(new uint8_t[chunk.capacity]);
  std::memcpy(chunk.data.get(), src, size);
  chunk.used = size;
  m_chunks.push_back(std::move(chunk));
}

void CSerialBuffer::Prepend(const void* data, size_t size) {
  if (size == 0) return;
  Chunk chunk;
  chunk.capacity = std::max(size, kMinChunk);
  chunk.data.reset(new uint8_t[chunk.capacity]);
  std::memcpy(chunk.data.get(), data, size);
  chunk.used = size;
  // A front chunk is never appended to (appends go to the last chunk), so its
  // spare capacity is simply unused when other chunks follow.
  if (m_chunks.empty()) {
    m_chunks.push_back(std::move(chunk));
  } else {
    chunk.capacity = size;
    m_chunks.push_front(std::move(chunk));
  }
  m_size += size;
}

std::vector<uint8_t> CSerialBuffer::Flatten(const uint8_t* head, size_t headSize) const {
  std::vector<uint8_t> out;
  out.reserve(headSize + m_size);
  if (headSize) out.insert(out.end(), head, head + headSize);
  for (const Chunk& c : m_chunks) out.insert(out.end(), c.data.get(), c.data.get() + c.used);
  return out;
}

void CSerialBuffer::AppendFrom(const CSerialBuffer& other) {
  for (const Chunk& c : other.m_chunks) Append(c.data.get(), c.used);
}

void CSerialBuffer::Clear() {
  // The last (largest) chunk stays for the next stream (a child stream is
  // written and cleared once per nested object) unless it grew large.
  while (m_chunks.size() > 1) m_chunks.pop_front();
  if (!m_chunks.empty()) {
    if (m_chunks.front().capacity > kMaxKept)
      m_chunks.clear();
    else
      m_chunks.front().used = 0;
  }
  m_size = 0;
  m_owned.clear();
  m_owned.shrink_to_fit();
  m_block = nullptr;
  m_blockSize = 0;
  m_position = 0;
}

void CSerialBuffer::SetBlock(const void* data, size_t size, bool copy) {
  Clear();
  if (copy) {
    if (size > 0) m_owned.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    m_block = m_owned.data();
  } else {
    m_block = static_cast<const uint8_t*>(data);
  }
  m_blockSize = m_block ? size : 0;
  m_position = 0;
}

bool CSerialBuffer::Take(void* out, size_t size) {
  const uint8_t* p = TakeView(size);
  if (!p) return true;
  if (size > 0) std::memcpy(out, p, size);
  return false;
}

const uint8_t* CSerialBuffer::TakeView(size_t size) {
  if (size > GetRemaining()) return nullptr;
  // An empty view still needs a non-null pointer to signal success.
  static const uint8_t kEmpty = 0;
  const uint8_t* p = m_block ? m_block + m_position : &kEmpty;
  m_position += size;
  return p;
}

// ---- CSerializer --------------------------------------------------------------

namespace {

std::vector<std::shared_ptr<ISerializerExtension>>& Extensions() {
  static std::vector<std::shared_ptr<ISerializerExtension>> list;
  return list;
}

}  // namespace

void CSerializer::RegisterExtension(const std::shared_ptr<ISerializerExtension>& extension) {
  if (extension) Extensions().push_back(extension);
}

void CSerializer::UnregisterExtension(const std::shared_ptr<ISerializerExtension>& extension) {
  auto& list = Extensions();
  list.erase(std::remove(list.begin(), list.end(), extension), list.end());
}

void CSerializer::Reset() {
  m_buffer.Clear();
  m_tags.clear();
}

void CSerializer::Mark(uint32_t tag) {
  if (tag != 0) SetTag(tag, static_cast<uint32_t>(m_buffer.GetSize()));
}

void CSerializer::SetTag(uint32_t tag, uint32_t position) {
  if (m_tags.empty() || m_tags.back().first < tag) {
    m_tags.emplace_back(tag, position);
    return;
  }
  auto it = std::lower_bound(m_tags.begin(), m_tags.end(), tag,
                             [](const std::pair<uint32_t, uint32_t>& e, uint32_t t) { return e.first < t; });
  if (it != m_tags.end() && it->first == tag)
    it->second = position;
  else
    m_tags.insert(it, {tag, position});
}

const uint32_t* CSerializer::FindTag(uint32_t tag) const {
  auto it = std::lower_bound(m_tags.begin(), m_tags.end(), tag,
                             [](const std::pair<uint32_t, uint32_t>& e, uint32_t t) { return e.first < t; });
  return it != m_tags.end() && it->first == tag ? &it->second : nullptr;
}

bool CSerializer::GetU32(uint32_t& v) {
  uint8_t b[4];
  if (m_buffer.Take(b, 4)) return true;
  v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
      (static_cast<uint32_t>(b[3]) << 24);
  return false;
}

void CSerializer::PutTagTable() {
  if (!m_tagged) return;
  const size_t size = 4 + 8 * m_tags.size();
  const uint32_t header = static_cast<uint32_t>(size);
  // Most streams (one per nested object) have a few tags: their table is
  // put together on the stack.
  uint8_t small[4 + 8 * 32];
  std::vector<uint8_t> large;
  uint8_t* table = small;
  if (size > sizeof(small)) {
    large.resize(size);
    table = large.data();
  }
  StoreU32(table, static_cast<uint32_t>(m_tags.size()));
  uint8_t* at = table + 4;
  for (const auto& [tag, position] : m_tags) {
    StoreU32(at, tag);
    StoreU32(at + 4, position + header);
    at += 8;
  }
  m_buffer.Prepend(table, size);
}

std::vector<uint8_t> CSerializer::Finish(const uint8_t* head, size_t headSize) {
  PutTagTable();
  std::vector<uint8_t> out = m_buffer.Flatten(head, headSize);
  Reset();
  return out;
}

bool CSerializer::Load(const void* data, size_t size) { return LoadBlock(data, size, true); }

bool CSerializer::LoadView(const void* data, size_t size) { return LoadBlock(data, size, false); }

bool CSerializer::LoadBlock(const void* data, size_t size, bool copy) {
  Reset();
  m_buffer.SetBlock(data, size, copy);
  if (!m_tagged) return false;
  uint32_t count;
  if (GetU32(count) || count > m_buffer.GetRemaining() / 8) {
    m_buffer.SetPosition(m_buffer.GetBlockSize());
    return true;
  }
  m_tags.reserve(count);
  bool sorted = true;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t tag = 0;
    uint32_t position = 0;
    GetU32(tag);
    GetU32(position);
    if (tag == 0) continue;
    if (!m_tags.empty() && m_tags.back().first >= tag) sorted = false;
    m_tags.emplace_back(tag, position);
  }
  if (!sorted) {
    // Written streams keep their table in order; any other table is sorted
    // here, a tag met twice keeping its later position.
    std::stable_sort(m_tags.begin(), m_tags.end(),
                     [](const std::pair<uint32_t, uint32_t>& a, const std::pair<uint32_t, uint32_t>& b) {
                       return a.first < b.first;
                     });
    auto last = m_tags.begin();
    for (auto it = m_tags.begin(); it != m_tags.end(); ++it) {
      if (last != m_tags.begin() && (last - 1)->first == it->first)
        (last - 1)->second = it->second;
      else
        *last++ = *it;
    }
    m_tags.erase(last, m_tags.end());
  }
  return false;
}

bool CSerializer::SeekTag(uint32_t tag) {
  if (tag == 0) return false;
  const uint32_t* position = FindTag(tag);
  if (!position || *position > m_buffer.GetBlockSize()) return true;
  m_buffer.SetPosition(*position);
  return false;
}

CSerializer& CSerializer::Child() {
  if (!m_child) m_child = std::make_unique<CSerializer>(true);
  return *m_child;
}

void CSerializer::PutChildBlock() {
  // The child's chunks go straight into this stream, without a copy of
  // their own in between.
  CSerializer& child = Child();
  child.PutTagTable();
  PutU32(static_cast<uint32_t>(child.m_buffer.GetSize()));
  m_buffer.AppendFrom(child.m_buffer);
  child.Reset();
}

bool CSerializer::TakeBlock(const uint8_t*& block, uint32_t& length) {
  size_t start = m_buffer.GetPosition();
  if (GetU32(length)) return true;
  block = m_buffer.TakeView(length);
  if (!block) {
    m_buffer.SetPosition(start);
    return true;
  }
  return false;
}

void CSerializer::PutNested(const ISerializable& object) {
  CSerializer& child = Child();
  child.Reset();
  object.Serialize(child);
  PutChildBlock();
}

bool CSerializer::GetNested(ISerializable& object) {
  const uint8_t* block = nullptr;
  uint32_t length = 0;
  if (TakeBlock(block, length)) return true;
  // The child reads straight from this stream's block, which stays alive and
  // unchanged while the object deserializes.
  CSerializer& child = Child();
  child.LoadView(block, length);
  object.Deserialize(child);
  child.Reset();
  return false;
}

void CSerializer::PutOpen(const std::any& value) {
  CSerializer& child = Child();
  bool accepted = false;
  for (const auto& extension : Extensions()) {
    child.Reset();
    if (extension->Serialize(child, value)) {
      accepted = true;
      break;
    }
  }
  // A value no extension takes still gets an (empty) block, so the fields
  // after it stay readable.
  if (!accepted) child.Reset();
  PutChildBlock();
}

bool CSerializer::GetOpen(const std::any& destination) {
  const uint8_t* block = nullptr;
  uint32_t length = 0;
  if (TakeBlock(block, length)) return true;
  CSerializer& child = Child();
  for (const auto& extension : Extensions()) {
    child.LoadView(block, length);
    if (extension->Deserialize(child, destination)) break;
  }
  child.Reset();
  return false;
}
