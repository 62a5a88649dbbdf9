// Tagged binary stream used by save files and archive directories.
//
// A stream is a tag table followed by a body:
//
//   uint32 N, then N pairs (uint32 field tag, uint32 position)
//   body: the fields in the order they were written
//
// All integers are 32-bit little-endian. A position is the byte offset of the
// field's first byte from the start of the stream (tag table included). Field
// tag 0 means "untagged": the field is not entered in the table and is read at
// the current read position. A tagged field is read from its recorded position;
// a tag the stream lacks is skipped and the destination keeps its value, which
// is how newer builds read older files.
//
// Field encodings:
//   bool, char, signed/unsigned char       1 byte
//   int32, uint32, float, 4-byte enums     4 bytes little-endian
//   std::string                            uint32 length, then the bytes
//   std::pair                              first, then second
//   vector, deque, list                    uint32 count, then each element
//   map, set (ordered or unordered)        uint32 count, then each element
//                                          (a map element is key, then value)
//   ISerializable (by value)               uint32 length B, then B bytes that
//                                          form a complete stream of its own
//   any other type ("open type")           a nested block written by the first
//                                          registered ISerializerExtension that
//                                          accepts the value
//
// Writing:
//   CSerializer s;
//   s.Write(1, m_name);            // tagged
//   s.Write(0, m_count);           // untagged
//   std::vector<uint8_t> bytes = s.Finish();
//
// Reading:
//   CSerializer s;
//   if (s.Load(bytes.data(), bytes.size())) { /* tag table unreadable */ }
//   s.Read(1, m_name);             // returns true when nothing was read
//
// Reading never trusts the input: a field that needs more bytes than remain,
// or a container whose count cannot fit in what remains, delivers nothing and
// leaves the destination unchanged (containers are replaced only when every
// element was read). After such a failure the untagged read position is at the
// end of the stream, so later untagged reads deliver nothing too; tagged reads
// still work because they seek to their own positions.
//
// Containers of ISerializable or open-type elements need elements that are
// default constructible.
#pragma once

#include <any>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

class CSerializer;

// An object that persists through a CSerializer. Serialize writes its fields
// under its own tags; Deserialize reads them back with the same tags.
class ISerializable {
 public:
  virtual ~ISerializable() = default;
  virtual void Serialize(CSerializer& stream) const = 0;
  virtual void Deserialize(CSerializer& stream) = 0;
};

// Writes and reads values of types the stream does not know ("open type").
//
// Serialize gets a std::any holding `const T*` (the value to write) and
// returns true when T is the extension's type and the value was written into
// `child`. Deserialize gets a std::any holding `T*` (the destination) and
// returns true when T is the extension's type and the value was read from
// `child`. A value that no extension reads keeps its content (its block is
// skipped); one that no extension writes gets an empty block. Example:
//
//   bool Serialize(CSerializer& c, const std::any& v) override {
//     auto p = std::any_cast<const CThing*>(&v);
//     if (!p) return false;
//     c.Write(1, (*p)->field);
//     return true;
//   }
class ISerializerExtension {
 public:
  virtual ~ISerializerExtension() = default;
  virtual bool Serialize(CSerializer& child, const std::any& value) = 0;
  virtual bool Deserialize(CSerializer& child, const std::any& value) = 0;
};

// Byte store under a stream: chunks while writing, one block while reading.
class CSerialBuffer {
 public:
  static constexpr size_t kMinChunk = 256;

  CSerialBuffer() = default;

  // Writing. Most writes are a few bytes into the last chunk's room.
  void Append(const void* data, size_t size) {
    if (size == 0) return;
    if (!m_chunks.empty()) {
      Chunk& last = m_chunks.back();
      if (last.capacity - last.used >= size) {
        std::memcpy(last.data.get() + last.used, data, size);
        last.used += size;
        m_size += size;
        return;
      }
    }
    AppendSpilling(data, size);
  }
  void Prepend(const void* data, size_t size);  // inserts a chunk in front
  size_t GetSize() const { return m_size; }
  // The bytes in one block, after headSize bytes of head.
  std::vector<uint8_t> Flatten(const uint8_t* head = nullptr, size_t headSize = 0) const;
  // Appends the bytes of another buffer (its chunks, in order).
  void AppendFrom(const CSerialBuffer& other);
  void Clear();  // drops chunks and any block

  // Reading.
  void SetBlock(const void* data, size_t size, bool copy);
  const uint8_t* GetBlock() const { return m_block; }
  size_t GetBlockSize() const { return m_blockSize; }
  size_t GetPosition() const { return m_position; }
  void SetPosition(size_t position) { m_position = position < m_blockSize ? position : m_blockSize; }
  size_t GetRemaining() const { return m_blockSize - m_position; }
  // Copies `size` bytes at the read position and advances; true (and nothing
  // copied, position unchanged) when fewer bytes remain.
  bool Take(void* out, size_t size);
  // Like Take but only returns a pointer to the bytes inside the block.
  const uint8_t* TakeView(size_t size);

 private:
  // Append's path when the bytes go past the last chunk's room.
  void AppendSpilling(const void* data, size_t size);

  struct Chunk {
    std::unique_ptr<uint8_t[]> data;
    size_t capacity = 0;
    size_t used = 0;
  };
  std::list<Chunk> m_chunks;
  size_t m_size = 0;

  std::vector<uint8_t> m_owned;
  const uint8_t* m_block = nullptr;
  size_t m_blockSize = 0;
  size_t m_position = 0;
};

class CSerializer {
 public:
  // A tagged stream writes and reads a tag table in front of its body. The
  // only untagged stream is the helper that writes a tag table.
  explicit CSerializer(bool tagged = true) : m_tagged(tagged) {}
  CSerializer(const CSerializer&) = delete;
  CSerializer& operator=(const CSerializer&) = delete;

  // Process-wide list of extensions, tried in registration order.
  static void RegisterExtension(const std::shared_ptr<ISerializerExtension>& extension);
  static void UnregisterExtension(const std::shared_ptr<ISerializerExtension>& extension);

  // ---- Writing -------------------------------------------------------------

  template <class T>
  void Write(uint32_t tag, const T& value) {
    Mark(tag);
    Put(value);
  }

  // Finishes the stream (puts the tag table in front), returns its bytes and
  // leaves this serializer empty, ready for a new stream.
  // With a head, the block starts with its headSize bytes (a file header),
  // so that the stream is not copied again behind it.
  std::vector<uint8_t> Finish(const uint8_t* head = nullptr, size_t headSize = 0);

  // Drops everything written or loaded.
  void Reset();

  // ---- Reading -------------------------------------------------------------

  // Loads a complete stream (copying the bytes) and reads its tag table.
  // Returns true when the tag table is unreadable; then no field can be read.
  bool Load(const void* data, size_t size);
  // Same, but reads straight from the caller's bytes, which must outlive the
  // reads.
  bool LoadView(const void* data, size_t size);

  // Reads one field. Returns true when nothing was read (tag missing, or not
  // enough bytes); the destination then keeps its value.
  template <class T>
  bool Read(uint32_t tag, T& value) {
    if (SeekTag(tag)) return true;
    if (Get(value)) {
      m_buffer.SetPosition(m_buffer.GetBlockSize());
      return true;
    }
    return false;
  }

  bool HasTag(uint32_t tag) const { return FindTag(tag) != nullptr; }
  size_t GetRemaining() const { return m_buffer.GetRemaining(); }
  size_t GetPosition() const { return m_buffer.GetPosition(); }

 private:
  template <class T>
  struct IsSequence : std::false_type {};
  template <class T, class A>
  struct IsSequence<std::vector<T, A>> : std::true_type {};
  template <class T, class A>
  struct IsSequence<std::deque<T, A>> : std::true_type {};
  template <class T, class A>
  struct IsSequence<std::list<T, A>> : std::true_type {};

  template <class T>
  struct IsMap : std::false_type {};
  template <class K, class V, class C, class A>
  struct IsMap<std::map<K, V, C, A>> : std::true_type {};
  template <class K, class V, class H, class E, class A>
  struct IsMap<std::unordered_map<K, V, H, E, A>> : std::true_type {};

  template <class T>
  struct IsSet : std::false_type {};
  template <class K, class C, class A>
  struct IsSet<std::set<K, C, A>> : std::true_type {};
  template <class K, class H, class E, class A>
  struct IsSet<std::unordered_set<K, H, E, A>> : std::true_type {};

  template <class T>
  struct IsPair : std::false_type {};
  template <class A, class B>
  struct IsPair<std::pair<A, B>> : std::true_type {};

  template <class T>
  static constexpr bool kIsByte = std::is_same_v<T, bool> || std::is_same_v<T, char> ||
                                  std::is_same_v<T, signed char> || std::is_same_v<T, unsigned char>;
  template <class T>
  static constexpr bool kIsWord = (std::is_integral_v<T> && sizeof(T) == 4) || std::is_same_v<T, float> ||
                                  (std::is_enum_v<T> && sizeof(T) == 4);

  // The most elements room is made for before they are read.
  static constexpr uint32_t kMaxReserve = 4096;

  // Smallest number of bytes one encoded value of T can take; bounds counts.
  template <class T>
  static constexpr size_t MinSize() {
    if constexpr (kIsByte<T>) {
      return 1;
    } else if constexpr (IsPair<T>::value) {
      return MinSize<typename T::first_type>() + MinSize<typename T::second_type>();
    } else {
      return 4;
    }
  }

  void Mark(uint32_t tag);
  // Enters a tag at a position (a tag met again takes the later position).
  void SetTag(uint32_t tag, uint32_t position);
  const uint32_t* FindTag(uint32_t tag) const;
  // Puts the tag table in front of the body (a tagged stream being finished).
  void PutTagTable();
  bool SeekTag(uint32_t tag);
  bool LoadBlock(const void* data, size_t size, bool copy);

  void PutBytes(const void* data, size_t size) { m_buffer.Append(data, size); }
  // Little-endian whatever the host.
  static void StoreU32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
  }
  void PutU32(uint32_t v) {
    uint8_t b[4];
    StoreU32(b, v);
    PutBytes(b, 4);
  }
  bool GetU32(uint32_t& v);
  // Writes the child stream as a length-prefixed block.
  void PutChildBlock();
  // Takes a length-prefixed block; true (position unchanged) when it does not fit.
  bool TakeBlock(const uint8_t*& block, uint32_t& length);
  void PutNested(const ISerializable& object);
  bool GetNested(ISerializable& object);
  void PutOpen(const std::any& value);
  bool GetOpen(const std::any& destination);
  CSerializer& Child();

  template <class T>
  void Put(const T& value) {
    if constexpr (kIsByte<T>) {
      uint8_t b = static_cast<uint8_t>(value);
      PutBytes(&b, 1);
    } else if constexpr (kIsWord<T>) {
      uint32_t w;
      std::memcpy(&w, &value, 4);
      PutU32(w);
    } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view>) {
      // A view is written as the string it shows.
      PutU32(static_cast<uint32_t>(value.size()));
      PutBytes(value.data(), value.size());
    } else if constexpr (IsPair<T>::value) {
      Put(value.first);
      Put(value.second);
    } else if constexpr (IsSequence<T>::value || IsSet<T>::value) {
      PutU32(static_cast<uint32_t>(value.size()));
      for (const auto& e : value) Put(e);
    } else if constexpr (IsMap<T>::value) {
      PutU32(static_cast<uint32_t>(value.size()));
      for (const auto& e : value) {
        Put(e.first);
        Put(e.second);
      }
    } else if constexpr (std::is_base_of_v<ISerializable, T>) {
      PutNested(value);
    } else {
      static_assert(std::is_class_v<T>, "this scalar type has no stream encoding");
      PutOpen(std::any(&value));
    }
  }

  template <class T>
  bool Get(T& value) {
    if constexpr (kIsByte<T>) {
      uint8_t b;
      if (m_buffer.Take(&b, 1)) return true;
      if constexpr (std::is_same_v<T, bool>) {
        value = b != 0;
      } else {
        value = static_cast<T>(b);
      }
      return false;
    } else if constexpr (kIsWord<T>) {
      uint32_t w;
      if (GetU32(w)) return true;
      std::memcpy(&value, &w, 4);
      return false;
    } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view>) {
      // A view shows the bytes inside the block being read: it is good for
      // as long as those bytes are.
      size_t start = m_buffer.GetPosition();
      uint32_t length;
      if (GetU32(length)) return true;
      const uint8_t* p = m_buffer.TakeView(length);
      if (!p) {
        m_buffer.SetPosition(start);
        return true;
      }
      if constexpr (std::is_same_v<T, std::string>)
        value.assign(reinterpret_cast<const char*>(p), length);
      else
        value = T(reinterpret_cast<const char*>(p), length);
      return false;
    } else if constexpr (IsPair<T>::value) {
      using First = std::remove_const_t<typename T::first_type>;
      First first{};
      typename T::second_type second{};
      if (Get(first) || Get(second)) return true;
      value = T(std::move(first), std::move(second));
      return false;
    } else if constexpr (IsSequence<T>::value || IsSet<T>::value) {
      uint32_t count;
      if (GetCount<typename T::value_type>(count)) return true;
      T result;
      // Room for the elements up front (a hostile count gets no more than
      // a bounded start: the elements must still be there to be read).
      if constexpr (std::is_same_v<T, std::vector<typename T::value_type, typename T::allocator_type>>)
        result.reserve(count < kMaxReserve ? count : kMaxReserve);
      for (uint32_t i = 0; i < count; ++i) {
        typename T::value_type e{};
        if (Get(e)) return true;
        // Appends to a sequence; a set takes it at its place.
        result.insert(result.end(), std::move(e));
      }
      value = std::move(result);
      return false;
    } else if constexpr (IsMap<T>::value) {
      using Key = typename T::key_type;
      using Mapped = typename T::mapped_type;
      uint32_t count;
      if (GetCount<std::pair<Key, Mapped>>(count)) return true;
      T result;
      for (uint32_t i = 0; i < count; ++i) {
        Key k{};
        Mapped v{};
        if (Get(k) || Get(v)) return true;
        // Streams hold maps in key order: the end is the place to look first.
        result.insert_or_assign(result.end(), std::move(k), std::move(v));
      }
      value = std::move(result);
      return false;
    } else if constexpr (std::is_base_of_v<ISerializable, T>) {
      return GetNested(value);
    } else {
      static_assert(std::is_class_v<T>, "this scalar type has no stream encoding");
      return GetOpen(std::any(&value));
    }
  }

  // Reads a container count and checks that that many elements can fit in
  // what remains of the block.
  template <class E>
  bool GetCount(uint32_t& count) {
    size_t start = m_buffer.GetPosition();
    if (GetU32(count)) return true;
    if (count > m_buffer.GetRemaining() / MinSize<E>()) {
      m_buffer.SetPosition(start);
      return true;
    }
    return false;
  }

  CSerialBuffer m_buffer;
  bool m_tagged;
  std::unique_ptr<CSerializer> m_child;  // nested objects, created on first use
  // The tag table, sorted by tag. Streams carry a handful of tags, mostly
  // written and stored in order: a flat table keeps its room when a child
  // stream is reused for the next nested object.
  std::vector<std::pair<uint32_t, uint32_t>> m_tags;
};
