(function () {
  'use strict';
  function order(x, y) {
    if (typeof x === 'number' && typeof y === 'number') return x - y;
    if (typeof x === 'number') return -1;
    if (typeof y === 'number') return 1;
    return x < y ? -1 : x > y ? 1 : 0;
  }
  // Marks `th` sorted, the other heads not; true when the sort is ascending.
  function sortedBy(heads, th) {
    var up = th.getAttribute('aria-sort') !== 'ascending';
    heads.forEach(function (other) { other.removeAttribute('aria-sort'); });
    th.setAttribute('aria-sort', up ? 'ascending' : 'descending');
    return up;
  }
  function onHeads(table, sort) {
    var heads = Array.prototype.slice.call(table.tHead.rows[0].cells);
    heads.forEach(function (th, column) {
      var button = th.querySelector('button');
      if (button) button.addEventListener('click', function () { sort(column, sortedBy(heads, th)); });
    });
  }

  // A table whose rows are in the page: sorted by their cells' values.
  function domTable(table) {
    var body = table.tBodies[0];
    function key(cell) {
      var v = cell.getAttribute('data-v');
      return v === null ? cell.textContent : Number(v);
    }
    onHeads(table, function (column, up) {
      var rows = Array.prototype.map.call(body.rows, function (row, i) {
        return [key(row.cells[column]), i, row];
      });
      rows.sort(function (a, b) { return (up ? order(a[0], b[0]) : order(b[0], a[0])) || a[1] - b[1]; });
      var sorted = document.createDocumentFragment();
      rows.forEach(function (entry) { sorted.appendChild(entry[2]); });
      body.appendChild(sorted);
    });
  }

  // The fleet's table, drawn from the rows' data a batch at a time: the texts were made by the
  // tool; this places them, sorts and filters.
  function dataTable(table, data) {
    var body = table.tBodies[0], columns = data.columns, rows = data.rows;
    var batch = Number(table.getAttribute('data-rows-at-once')) || 200;
    var more = document.getElementById('more-rows'), count = document.getElementById('shown-count');
    var filter = document.getElementById('verdict-filter');
    // Every row's index in the order sorted, and those the filter shows.
    var sorted = rows.map(function (row, i) { return i; }), view = sorted, drawn = 0;
    function span(key, text, value) {
      var s = document.createElement('span');
      s.setAttribute('data-k', key);
      s.setAttribute('data-v', String(value));
      s.textContent = text;
      return s;
    }
    function cell(column, value, row) {
      var td = document.createElement('td');
      if (column.t === 'interval') {
        td.className = 'interval';
        if (value === null) { td.textContent = '[—, —]'; return td; }
        td.setAttribute('data-v', String(value[1]));
        td.append('[', span(column.k + '.low', value[0], value[1]), ', ',
                  span(column.k + '.high', value[2], value[3]), ']');
      } else if (column.t === 'number') {
        td.setAttribute('data-k', column.k);
        if (value === null) { td.textContent = '—'; return td; }
        td.setAttribute('data-v', String(value[1]));
        td.textContent = value[0];
      } else {
        td.className = column.t + (column.t === 'text verdict' && row.a ? ' ' + row.v : '');
        td.textContent = value;
      }
      return td;
    }
    function draw(upto) {
      var part = document.createDocumentFragment();
      for (; drawn < Math.min(upto, view.length); drawn += 1) {
        var row = rows[view[drawn]], tr = document.createElement('tr');
        tr.setAttribute('data-verdict', row.v);
        tr.setAttribute('data-node', row.c[0]);
        for (var c = 0; c < columns.length; c += 1) tr.appendChild(cell(columns[c], row.c[c], row));
        part.appendChild(tr);
      }
      body.appendChild(part);
      more.hidden = drawn >= view.length;
    }
    function redraw() {
      view = sorted.filter(function (i) { return !filter || filter.value === '' || rows[i].v === filter.value; });
      body.textContent = '';
      drawn = 0;
      draw(batch);
      count.textContent = String(view.length);
    }
    function key(row, column) {
      var value = row.c[column], kind = columns[column].t;
      if (kind === 'number' || kind === 'interval') {
        return value === null ? (kind === 'number' ? '—' : '[—, —]') : value[1];
      }
      return value;
    }
    onHeads(table, function (column, up) {
      var keyed = sorted.map(function (i, at) { return [key(rows[i], column), at, i]; });
      keyed.sort(function (a, b) { return (up ? order(a[0], b[0]) : order(b[0], a[0])) || a[1] - b[1]; });
      sorted = keyed.map(function (entry) { return entry[2]; });
      redraw();
    });
    if (filter) filter.addEventListener('change', redraw);
    more.addEventListener('click', function () { draw(drawn + batch); });
    if ('IntersectionObserver' in window) {
      new IntersectionObserver(function (seen) {
        if (seen[0].isIntersecting && !more.hidden) draw(drawn + batch);
      }, { root: document.getElementById('fleet-scroll') }).observe(more);
    }
    window.addEventListener('beforeprint', function () { draw(view.length); });
    redraw();
  }

  document.querySelectorAll('table.sortable').forEach(function (table) {
    var data = document.getElementById(table.id + '-rows');
    if (data) dataTable(table, JSON.parse(data.textContent));
    else domTable(table);
  });
  // Raw JSON is kept once, in its script element, and shown when its section opens or saved as a
  // file; the '<' escaped there for safety is itself again.
  function json(id) {
    return document.getElementById(id).textContent.replace(/\\\\|\\u003c/g, function (m) {
      return m === '\\\\' ? m : '<';
    });
  }
  document.querySelectorAll('pre[data-json]').forEach(function (pre) {
    var details = pre.closest('details');
    details.addEventListener('toggle', function () {
      if (details.open && pre.textContent === '') pre.textContent = json(pre.getAttribute('data-json'));
    });
  });
  function save(text, type, file) {
    var link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([text], { type: type }));
    link.download = file;
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(function () { URL.revokeObjectURL(link.href); }, 0);
  }
  document.querySelectorAll('button[data-download]').forEach(function (button) {
    button.addEventListener('click', function () {
      save(json(button.getAttribute('data-download')), 'application/json', button.getAttribute('data-file'));
    });
  });

  // The page's table as CSV, from its JSON. Cells of outside text (host and file names) come made
  // by the tool, quoted with a formula's first character defused; the rest are numbers and the
  // tool's own words.
  function csvCell(value) {
    if (value === null || value === undefined) return '';
    var text = String(value);
    return /[",\r\n]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
  }
  function estimate(e) { return [e.median, e.low, e.high]; }
  var csvLayouts = {
    session: function (data) {
      var f = data.figures, s = f.serial_seconds;
      var rows = [['serial'].concat(estimate(s), [s.iqr, s.outliers], [null, null, null, null, null, null, null, null, null, null])];
      f.team_sizes.forEach(function (t) {
        rows.push([t.threads].concat(estimate(t.seconds), [t.seconds.iqr, t.seconds.outliers],
          estimate(t.speedup_vs_serial), estimate(t.speedup_vs_one_thread), [t.efficiency.median],
          estimate(t.karp_flatt)));
      });
      return [['threads', 'median_s', 'low_s', 'high_s', 'iqr_s', 'outliers', 'speedup_vs_serial',
        'speedup_vs_serial_low', 'speedup_vs_serial_high', 'speedup_vs_one_thread',
        'speedup_vs_one_thread_low', 'speedup_vs_one_thread_high', 'efficiency', 'karp_flatt',
        'karp_flatt_low', 'karp_flatt_high'], rows];
    },
    comparison: function (data) {
      var columns = ['threads', 'base_median_s', 'new_median_s', 'ratio', 'ratio_low', 'ratio_high',
        'confidence', 'p_value', 'p_holm', 'verdict'];
      return [columns, data.rows.map(function (row) {
        return columns.map(function (column) { return row[column]; });
      })];
    }
  };
  document.querySelectorAll('button[data-csv]').forEach(function (button) {
    button.addEventListener('click', function () {
      var data = JSON.parse(json(button.getAttribute('data-json')));
      var table = csvLayouts[button.getAttribute('data-csv')](data);
      var names = button.getAttribute('data-lead-names'), cells = button.getAttribute('data-lead-cells');
      var lead = function (text) { return names === '' ? '' : text + ','; };
      var text = lead(names) + table[0].join(',') + '\n';
      table[1].forEach(function (row) { text += lead(cells) + row.map(csvCell).join(',') + '\n'; });
      save(text, 'text/csv', button.getAttribute('data-file'));
    });
  });
  document.body.setAttribute('data-ready-ms', String(Math.round(performance.now())));
  document.body.setAttribute('data-page-ready', 'yes');
})();
